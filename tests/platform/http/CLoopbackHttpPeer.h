// An HTTP peer on a loopback address for the tests of the HTTP client and the login: it accepts
// connections, reads each request (headers and a Content-Length body), keeps it, and answers as
// its script says: a reply, a reply with the connection then held open, nothing at all while
// the connection stays open, a close, or a reply held back until the test releases it. Every
// connection has a thread of its own, so a held one does not keep the next from being served.
#pragma once

#include "platform/io/CUniqueFd.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class CLoopbackHttpPeer {
public:
    // ReplyWhenReleased: silent until Release(), then the reply.
    enum class EAnswer { Reply, ReplyAndHold, Silent, Close, ReplyWhenReleased };
    struct CScript {
        std::string strReply;
        EAnswer answer = EAnswer::Reply;
    };

    // Listens on address:port (port 0: any free one); Port() is 0 when that failed.
    explicit CLoopbackHttpPeer(CScript script, const std::string& address = "127.0.0.1",
                               uint16_t port = 0);
    // Releases held connections and waits for every thread.
    ~CLoopbackHttpPeer();
    CLoopbackHttpPeer(const CLoopbackHttpPeer&) = delete;
    CLoopbackHttpPeer& operator=(const CLoopbackHttpPeer&) = delete;

    uint16_t Port() const { return m_nPort; }
    std::size_t Connections() const;
    std::vector<std::string> Requests() const;
    // Waits until count requests have come in, at most limit; answers whether they have.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds limit) const;
    // Ends held and silent connections now.
    void Release();

    // "HTTP/1.1 <status> X\r\nContent-Length: <n>\r\nConnection: close\r\n\r\n<body>".
    static std::string Reply(int status, std::string_view body);

private:
    void AcceptLoop();
    void Serve(CUniqueFd connection);
    bool WaitWhileOpen(int fd) const;

    CScript m_script;
    CUniqueFd m_listen;
    uint16_t m_nPort = 0;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bReleased{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_listRequests;
    std::size_t m_nConnections = 0;
    std::vector<std::thread> m_listThreads; // connection threads; joined at the end
    std::thread m_acceptor;
};
