// A blocking IPv4 stream socket whose every wait is bounded: Send and Receive take what the
// socket can take or give at once and otherwise wait for readiness with poll() (select() cannot
// watch descriptors of 1024 and above), sends must also keep up a minimum rate, and every failure
// is a CBlockingSocketException naming the operation. Close closes the descriptor and reports a
// failure; destroying the object closes one that is still open, quietly.
// A connection may carry a TLS session: its bytes then go through the session under the same
// waits and progress rule, the handshake taking place within the first receive or send.
#pragma once

#include "platform/tls/CTlsSession.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <string_view>

class CBlockingSocket {
public:
    static constexpr int kNoSocket = -1;
    static constexpr int kDefaultWaitMs = 10000;
    static constexpr int kDefaultBacklog = 5;
    static constexpr std::size_t kDefaultMinProgressBytes = 1024;
    static constexpr int kDefaultProgressWindowMs = 10000;

    CBlockingSocket() = default;
    virtual ~CBlockingSocket();
    CBlockingSocket(const CBlockingSocket&) = delete;
    CBlockingSocket& operator=(const CBlockingSocket&) = delete;

    void Create();
    // SO_REUSEADDR lets a restart bind while old connections linger in TIME_WAIT; a port that
    // another socket listens on still fails with "Bind".
    void Bind(const sockaddr_in& address);
    void Listen(int nBacklog = kDefaultBacklog);
    // False when the listening socket was shut down to stop the service.
    bool Accept(CBlockingSocket& connection, sockaddr_in& peer);
    // Ends a blocked Accept from another thread; the descriptor stays open until Close.
    void Shutdown();
    void Close();
    // bMore: more bytes follow at once (MSG_MORE), so that a header and the body behind it can
    // share a segment.
    std::size_t Send(const void* pData, std::size_t nBytes, bool bMore = false);
    // Sends nBytes of the file fd from offset with sendfile(2), under the same waits and
    // progress rule as Send; answers the bytes sent, fewer only when the file ended first.
    uint64_t SendFile(int fd, uint64_t offset, uint64_t nBytes);
    // Sends head then body with gathering writes, under the same waits and progress rule.
    std::size_t SendBoth(std::string_view head, std::string_view body);
    std::size_t Receive(void* pBuffer, std::size_t nCapacity);

    // Makes the connection non-blocking and puts a server session over it.
    void StartTls(const CTlsServerContext& context);
    bool HasTls() const { return m_pTls != nullptr; }
    // Sends close_notify, waiting m_nWaitMs at most; failures are not reported (the connection
    // is about to be closed).
    void EndTls();

    // The local port, in host byte order, or 0 without a bound socket.
    uint16_t LocalPort() const;
    bool HasSocket() const { return m_hSock.load() != kNoSocket; }

    // Shared between the acceptor and the thread that stops the service.
    std::atomic<int> m_hSock{kNoSocket};
    int m_nWaitMs = kDefaultWaitMs;
    std::size_t m_nMinProgressBytes = kDefaultMinProgressBytes;
    int m_nProgressWindowMs = kDefaultProgressWindowMs;
    // Set when the connection is closed (or half-closed) right after its last send: every send
    // then leaves its last bytes for the end of the stream to push, so that the end of an answer
    // and the FIN share one segment instead of costing the peer a wake-up each.
    bool m_bAnswerEndsStream = false;

protected:
    // Waits up to nWaitMs for the events; false on timeout. A failing poll is not reported
    // here: the transfer call that follows reports its own failure.
    bool WaitFor(short events, int nWaitMs) const;
    // Receive with a wait of nWaitMs; a timeout throws pszTimeout.
    std::size_t ReceiveWithin(void* pBuffer, std::size_t nCapacity, int nWaitMs,
                              const char* pszTimeout);

private:
    using Clock = std::chrono::steady_clock;

    // Besides the readiness wait of each send, the sends of a connection must move at least
    // m_nMinProgressBytes within every m_nProgressWindowMs, counted from the first send: a
    // reader that takes a little now and then cannot hold the connection for ever. A window
    // starts again each time that many bytes have moved.
    Clock::time_point ProgressDeadline();
    void NoteProgress(std::size_t nBytes);

    // The loop of Send and SendFile: transferOnce(sent) moves some of the bytes after the first
    // sent ones and answers what the call answered (errno set on -1); 0 ends the transfer early.
    template <class TransferOnce>
    uint64_t Transfer(uint64_t nBytes, TransferOnce&& transferOnce);

    std::size_t SendTls(const char* pData, std::size_t nBytes);
    uint64_t SendFileTls(int fd, uint64_t offset, uint64_t nBytes);
    std::size_t ReceiveTls(void* pBuffer, std::size_t nCapacity, Clock::time_point deadline,
                           const char* pszTimeout);
    // Shakes hands first if that has not happened yet.
    void HandshakeBefore(Clock::time_point deadline);

    std::unique_ptr<CTlsSession> m_pTls;
    std::optional<Clock::time_point> m_progressStart;
    std::size_t m_nProgressBytes = 0;
};
