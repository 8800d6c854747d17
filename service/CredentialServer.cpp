#include "service/CredentialServer.h"

#include "service/CBlockingSocketException.h"
#include "service/CHttpBlockingSocket.h"
#include "service/CIdleConnectionThreads.h"
#include "service/CRequestHandler.h"
#include "service/ServiceLog.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

CBlockingSocket g_listenSocket;
std::atomic<int> g_bServerRunning{0};
std::atomic<int> g_nConnectionCount{0};

namespace {

// The run that the listening socket belongs to, kept by the thread that starts and stops the
// service. Acceptors only compare their own run with s_pCurrentRunId (never dereferenced): one
// of an earlier run that wakes late leaves the flag of the current run alone.
std::shared_ptr<CServiceContext> s_pCurrentRun;
std::atomic<const CServiceContext*> s_pCurrentRunId{nullptr};

// A connection thread needs a few KB of stack. Small stacks stay in the C library's stack
// cache, so that starting a thread per connection maps and unmaps no memory (and sends no TLB
// shootdowns across cores) under load.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kThreadStack = 4 << 20;
#else
constexpr std::size_t kThreadStack = 256 << 10;
#endif

void* ConnectionThreadEntry(void* parameter) {
    std::unique_ptr<std::shared_ptr<CServiceContext>> context(
        static_cast<std::shared_ptr<CServiceContext>*>(parameter));
    ConnectionThread(std::move(*context));
    return nullptr;
}

// Idle threads may still be waiting in it when the program exits; they need nothing of it once
// their wait has run out.
CIdleConnectionThreads s_idleThreads;

void StartNextAcceptor(const std::shared_ptr<CServiceContext>& context) {
    if (s_idleThreads.HandOff(context)) {
        return;
    }
    pthread_attr_t attr;
    if (::pthread_attr_init(&attr) != 0) {
        return;
    }
    ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    ::pthread_attr_setstacksize(&attr, kThreadStack);
    auto parameter = std::make_unique<std::shared_ptr<CServiceContext>>(context);
    pthread_t thread;
    if (::pthread_create(&thread, &attr, ConnectionThreadEntry, parameter.get()) == 0) {
        // The thread owns its parameter now.
        static_cast<void>(parameter.release());
    }
    // Otherwise the chain ends here: the service is broken until the next start.
    ::pthread_attr_destroy(&attr);
}

void EndChain(const CServiceContext& context) {
    if (s_pCurrentRunId.load() == &context) {
        g_bServerRunning = 0;
    }
}

// Half-closes after a response and waits briefly for the client to close, so that request
// bytes still arriving do not make the kernel reset the connection and discard the response
// before the client has read it.
void CloseGracefully(CHttpBlockingSocket& socket, int nLingerMs) {
    const int fd = socket.m_hSock;
    ::shutdown(fd, SHUT_WR);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nLingerMs);
    char scratch[512];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        pollfd pfd{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&pfd, 1, static_cast<int>(left)) <= 0 ||
            ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) <= 0) {
            break;
        }
    }
    socket.Close();
}

void Serve(CHttpBlockingSocket& connection, const sockaddr_in& peer,
           const CServiceContext& context) {
    try {
        if (CRequestHandler(connection, peer, context).Run()) {
            CloseGracefully(connection, context.m_options.nLingerMs);
        } else {
            connection.Close();
        }
    } catch (const CBlockingSocketException& e) {
        LogSocketError(context.m_options.nLogFd, e, "SERVER:");
        try {
            connection.Close();
        } catch (const CBlockingSocketException&) {
        }
    } catch (const std::exception&) {
        // Out of memory and the like: the connection ends without an answer.
        try {
            connection.Close();
        } catch (const CBlockingSocketException&) {
        }
    }
}

// Failures of accept that pass once connections end: a client that opens connections until the
// process runs out of descriptors must not stop the service for good.
bool IsTransientAcceptError(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

// Waits for one connection; false when the chain ends here.
bool AcceptOne(const CServiceContext& context, CHttpBlockingSocket& connection, sockaddr_in& peer) {
    for (;;) {
        try {
            const bool bAccepted = !context.m_bStopping && g_listenSocket.Accept(connection, peer);
            if (!bAccepted || context.m_bStopping) {
                if (bAccepted) {
                    connection.Close();
                }
                EndChain(context);
                return false;
            }
            return true;
        } catch (const CBlockingSocketException& e) {
            LogSocketError(context.m_options.nLogFd, e, "SERVER:");
            if (!IsTransientAcceptError(e.m_nSocketError)) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
}

// One turn of a connection thread: accept one connection, start the next acceptor, serve.
void AcceptAndServe(const std::shared_ptr<CServiceContext>& context) {
    CHttpBlockingSocket connection;
    connection.m_nWaitMs = context->m_options.nWaitMs;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    if (!AcceptOne(*context, connection, peer)) {
        return;
    }
    ++g_nConnectionCount;
    StartNextAcceptor(context);
    Serve(connection, peer, *context);
}

} // namespace

void ConnectionThread(std::shared_ptr<CServiceContext> context) {
    while (context) {
        AcceptAndServe(context);
        // An idle thread holds nothing of the run it served.
        context.reset();
        context = s_idleThreads.WaitForWork();
    }
}

void StartCredentialServer(COrvaneSrvCore& core, const CServiceOptions& options) {
    auto context = std::make_shared<CServiceContext>(core, options);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options.nPort);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    try {
        g_listenSocket.Create();
        g_listenSocket.Bind(address);
        g_listenSocket.Listen(options.nBacklog);
    } catch (const CBlockingSocketException& e) {
        if (g_listenSocket.HasSocket()) {
            try {
                g_listenSocket.Close();
            } catch (const CBlockingSocketException&) {
            }
            g_listenSocket.m_hSock = CBlockingSocket::kNoSocket;
        }
        LogSocketError(options.nLogFd, e, "VIEW:");
        return;
    }
    s_pCurrentRun = context;
    s_pCurrentRunId = context.get();
    g_bServerRunning = 1;
    g_nConnectionCount = 0;
    WriteLogEntry(options.nLogFd, "OrvaneSrv: credential service on port " +
                                      std::to_string(CredentialServerPort()) +
                                      " serves files from " + context->m_strDocRoot + "\n");
    StartNextAcceptor(context);
}

void StopCredentialServer() {
    if (g_bServerRunning.load() != 1 || !g_listenSocket.HasSocket()) {
        return;
    }
    const int logFd = s_pCurrentRun ? s_pCurrentRun->m_options.nLogFd : STDERR_FILENO;
    if (s_pCurrentRun) {
        s_pCurrentRun->m_bStopping = true;
    }
    g_listenSocket.Shutdown();
    for (int i = 0; i < 10 && g_bServerRunning.load() == 1; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    try {
        g_listenSocket.Close();
    } catch (const CBlockingSocketException& e) {
        LogSocketError(logFd, e, "VIEW:");
    }
    s_pCurrentRun.reset();
}

uint16_t CredentialServerPort() {
    return g_listenSocket.LocalPort();
}
