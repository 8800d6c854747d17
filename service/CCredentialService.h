// The credential service's listener: one listening socket on every local IPv4 address and a
// chain of connection threads. Each thread accepts one connection, counts it, starts the thread
// that accepts the next one, then serves its own request and ends (or waits briefly to be
// reused as a later acceptor). When no thread can be started (a thread limit), the thread
// serves its connection and then accepts the next one itself: the chain goes on, slower. At
// most nMaxConnections connections are served at once, at most three quarters of them on one
// port (see CConnectionSlots): at the cap, the connection that has waited longest for its
// request is closed to admit a new one, or, when every connection has sent its request, the
// acceptor waits for one to end and further clients wait in the listen queue. One client
// address holds at most nMaxConnectionsPerAddress of them: its further connections are closed
// as soon as they are accepted.
//
// States: Stopped (flag 0, no socket), Running (flag 1, an acceptor waiting), Stopping (socket
// shut down, the acceptor waking) and Broken (flag 1, the socket open, nobody accepting, after
// an Accept error other than a lack of descriptors, memory or a network error of one
// connection).
//
// The listening socket, the running flag and the connection counter are process-wide; the rest
// (the current run, the idle threads) belongs to the CCredentialService object that started it.
#pragma once

#include "core/COrvaneSrvCore.h"
#include "service/CServiceContext.h"
#include "service/CServiceOptions.h"
#include "service/listener/CBlockingSocket.h"
#include "service/listener/CIdleConnectionThreads.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

extern CBlockingSocket g_listenSocket;
extern std::atomic<int> g_bServerRunning;
extern std::atomic<int> g_nConnectionCount;

class CCredentialService {
public:
    CCredentialService();
    // Stops the service if it still runs.
    ~CCredentialService();
    CCredentialService(const CCredentialService&) = delete;
    CCredentialService& operator=(const CCredentialService&) = delete;

    // Opens the listening socket and starts the first acceptor; failures are logged with "VIEW:"
    // and leave the service stopped. The program calls it as the last step of start-up.
    void StartCredentialServer(COrvaneSrvCore& core, const CServiceOptions& options = {});
    // Ends the waiting acceptor and closes the listening socket; waits about 100 ms at most.
    // Threads still serving a request end on their own and no longer reach the core once its
    // tables are freed.
    void StopCredentialServer();
    // The port the listening socket is bound to, or 0.
    uint16_t Port() const;
    // The port of the TLS listener, or 0 when it does not listen.
    uint16_t TlsPort() const;
    // Connections of the running service accepted and not yet done with.
    std::size_t ConnectionsServed() const;
    // Those of them still waiting for their request line and headers.
    std::size_t ConnectionsWaitingForRequest() const;

private:
    // The second listener, beside the plain one, when the settings give a TLS context: the same
    // chain of connection threads with the same caps, its connections going through TLS.
    // Failures are logged and leave the plain port serving.
    void StartTlsListener(const std::shared_ptr<CServiceContext>& context);

    std::shared_ptr<CServiceContext> m_pRun;
    std::shared_ptr<CIdleConnectionThreads> m_pIdleThreads;
};

// The body of every connection thread: accepts and serves connections of the run until the
// chain moves on and no hand-off comes.
void ConnectionThread(CAcceptorRole role);
