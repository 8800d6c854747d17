// The running copy's control socket: orvanectl of the same user connects, sends one request and
// reads one reply. The socket sits beside the store (mode 0600 in the store's 0700 folder); the
// peer's uid is checked with SO_PEERCRED and any other uid is refused and logged. Each request
// runs on the window thread through the handler, which may answer at once or later (a refresh
// answers when its pass ends); the connection's own thread waits for the answer meanwhile, and
// tells the request when its peer hangs up first.
//
// Qt-free, so that the window and the headless front end both run one.
#pragma once

#include "control/CControlDone.h"
#include "control/ControlProtocol.h"
#include "platform/io/CUniqueFd.h"
#include "platform/ui/IWindowThread.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CControlChannel {
public:
    using CDone = CControlDone;
    // Window thread: runs one request; calls done once, at once or later on the window thread.
    using CHandler = std::function<void(const std::vector<std::string>& args, CDone done)>;

    // Connections served at once; one more is told to try again.
    static constexpr std::size_t kMaxConnections = 8;

    CControlChannel(std::shared_ptr<IWindowThread> window, CHandler handler);
    // Stops accepting, answers every waiting connection that the program stops, and joins.
    ~CControlChannel();
    CControlChannel(const CControlChannel&) = delete;
    CControlChannel& operator=(const CControlChannel&) = delete;

    // Listens on path, replacing a stale socket (the caller's instance lock makes that safe).
    // Answers why not, empty once listening.
    std::string Listen(const std::filesystem::path& path);

    // Where the copy whose store is storeFile listens.
    static std::filesystem::path SocketPath(const std::filesystem::path& storeFile);

    // A channel listening beside storeFile; when it cannot listen, standard error says why and
    // the program goes on without it (orvanectl then finds no running copy).
    static std::unique_ptr<CControlChannel> OpenBeside(std::shared_ptr<IWindowThread> window,
                                                       CHandler handler,
                                                       const std::filesystem::path& storeFile);

    struct CPending; // one connection's awaited reply

private:
    void AcceptLoop();
    void Serve(CUniqueFd connection);
    // Reads the request; answers nothing when the peer sent none in time or a bad one.
    std::optional<std::vector<std::string>> ReadRequest(int fd) const;
    CControlReply Dispatch(std::vector<std::string> args, int fd);
    void Reap(bool bAll);

    std::shared_ptr<IWindowThread> m_pWindow;
    CHandler m_handler;
    std::filesystem::path m_path;
    CUniqueFd m_listenFd;
    CUniqueFd m_wakeFd; // readable once the channel stops
    std::atomic<bool> m_bStop{false};
    std::thread m_acceptor;
    std::mutex m_mutex;
    struct CConnection {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> pDone;
    };
    std::list<CConnection> m_connections;
    std::vector<std::weak_ptr<CPending>> m_pending;
};
