// A blocking IPv4 stream socket whose every wait is bounded: Send and Receive first wait for
// readiness with poll() (select() cannot watch descriptors of 1024 and above), and every failure
// is a CBlockingSocketException naming the operation. Close closes the descriptor and reports a
// failure; destroying the object closes one that is still open, quietly.
#pragma once

#include <atomic>
#include <cstddef>
#include <netinet/in.h>

class CBlockingSocket {
public:
    static constexpr int kNoSocket = -1;
    static constexpr int kDefaultWaitMs = 10000;
    static constexpr int kDefaultBacklog = 5;

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
    std::size_t Send(const void* pData, std::size_t nBytes);
    std::size_t Receive(void* pBuffer, std::size_t nCapacity);

    // The local port, in host byte order, or 0 without a bound socket.
    uint16_t LocalPort() const;
    bool HasSocket() const { return m_hSock.load() != kNoSocket; }

    // Shared between the acceptor and the thread that stops the service.
    std::atomic<int> m_hSock{kNoSocket};
    int m_nWaitMs = kDefaultWaitMs;

protected:
    // Waits up to nWaitMs for the events; false on timeout. A failing poll is not reported
    // here: the transfer call that follows reports its own failure.
    bool WaitFor(short events, int nWaitMs) const;
};
