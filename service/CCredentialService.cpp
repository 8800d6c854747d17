#include "service/CCredentialService.h"

#include "platform/io/PollWait.h"
#include "service/ServiceLogText.h"
#include "service/http/CRequestHandler.h"
#include "service/listener/CBlockingSocketException.h"
#include "service/listener/CHttpBlockingSocket.h"
#include "service/listener/ServiceCertificate.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

CBlockingSocket g_listenSocket;
std::atomic<int> g_bServerRunning{0};
std::atomic<int> g_nConnectionCount{0};

namespace {

// A connection thread needs a few KB of stack. Small stacks stay in the C library's stack
// cache, so that starting a thread per connection maps and unmaps no memory (and sends no TLB
// shootdowns across cores) under load.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kThreadStack = 4 << 20;
#else
constexpr std::size_t kThreadStack = 256 << 10;
#endif

void* ConnectionThreadEntry(void* parameter) {
    const std::unique_ptr<std::function<void()>> job(
        static_cast<std::function<void()>*>(parameter));
    (*job)();
    return nullptr;
}

// A detached thread with the small stack; 0 or pthread_create's error.
int StartSmallThread(std::function<void()> job) {
    pthread_attr_t attr;
    if (const int error = ::pthread_attr_init(&attr); error != 0) {
        return error;
    }
    ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    ::pthread_attr_setstacksize(&attr, kThreadStack);
    auto parameter = std::make_unique<std::function<void()>>(std::move(job));
    pthread_t thread;
    const int error = ::pthread_create(&thread, &attr, ConnectionThreadEntry, parameter.get());
    if (error == 0) {
        // The thread owns its parameter now.
        static_cast<void>(parameter.release());
    }
    ::pthread_attr_destroy(&attr);
    return error;
}

int StartConnectionThread(const CAcceptorRole& role) {
    auto job = [role] { ConnectionThread(role); };
    const CServiceOptions& options = role.pContext->m_options;
    return options.startThread ? options.startThread(std::move(job))
                               : StartSmallThread(std::move(job));
}

// Hands the acceptor role to an idle thread or a new one; 0 or pthread_create's error.
int StartAcceptor(const CAcceptorRole& role) {
    return role.pContext->m_pIdleThreads->HandOff(role) ? 0 : StartConnectionThread(role);
}

// Hands the acceptor role on. False when that was not possible (a process or system thread
// limit): the caller then stays the acceptor itself.
bool StartNextAcceptor(const CAcceptorRole& role) {
    const std::shared_ptr<CServiceContext>& context = role.pContext;
    const int error = StartAcceptor(role);
    if (error == 0) {
        context->m_bThreadStartFailing = false;
        return true;
    }
    if (!context->m_bThreadStartFailing.exchange(true)) {
        context->m_log.Note("OrvaneSrv: credential service cannot start a connection thread (" +
                            std::string(std::strerror(error)) +
                            "); the acceptor serves its connection itself\n");
    }
    return false;
}

CBlockingSocket& ListenSocketOf(CServiceContext& context, EListener listener) {
    return listener == EListener::Tls ? context.m_tlsListenSocket : g_listenSocket;
}

void EndChain(CServiceContext& context, EListener listener) {
    if (listener == EListener::Tls) {
        context.m_bTlsRunning = 0;
    } else if (context.m_bCurrentRun) {
        g_bServerRunning = 0;
    }
}

// Closes a socket that is given up anyway (a connection refused or failed, a listening socket
// after a failed start): a failure of close() has nobody to tell.
void CloseQuietly(CBlockingSocket& socket) {
    try {
        socket.Close();
    } catch (const CBlockingSocketException&) {
    }
}

// Wakes the chain's acceptor, gives it about 100 ms to leave, and closes the listening socket.
void StopListener(CBlockingSocket& socket, const std::atomic<int>& bRunning, CServiceLog& log) {
    socket.Shutdown();
    for (int i = 0; i < 10 && bRunning.load() == 1; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    try {
        socket.Close();
    } catch (const CBlockingSocketException& e) {
        log.LogSocketError(e, "VIEW:");
    }
}

// Create, bind to every local address on the port, listen; throws what the socket throws.
void OpenListener(CBlockingSocket& socket, uint16_t port, int nBacklog) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socket.Create();
    socket.Bind(address);
    socket.Listen(nBacklog);
}

// Half-closes after a response and waits briefly for the client to close, so that request
// bytes still arriving do not make the kernel reset the connection and discard the response
// before the client has read it.
void CloseGracefully(CHttpBlockingSocket& socket, int nLingerMs) {
    const int fd = socket.m_hSock;
    socket.EndTls();
    ::shutdown(fd, SHUT_WR);
    const auto end = PollClock::now() + std::chrono::milliseconds(nLingerMs);
    char scratch[512];
    while (WaitForEvents(fd, POLLIN, end) == EPollResult::Ready &&
           ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
    }
    socket.Close();
}

// Every way out settles the ticket before the connection is closed: a connection closed at the
// cap is shut down by another thread, which must be done with its descriptor by then.
void Serve(CHttpBlockingSocket& connection, const sockaddr_in& peer, const CServiceContext& context,
           CConnectionSlots::CTicket& ticket) {
    try {
        bool bAnswered = false;
        bool bReadToEnd = false;
        {
            // Gone before the connection closes: its log entries are written by then.
            CRequestHandler handler(connection, peer, context, &ticket);
            bAnswered = handler.Run();
            bReadToEnd = handler.ReadToEnd();
        }
        ticket.Settle();
        if (!bAnswered) {
            connection.Close();
        } else if (bReadToEnd && !connection.HasUnreadBytes()) {
            // Nothing more is coming from the client, so closing cannot reset the connection:
            // the answer and the end of the stream go out as they are.
            connection.Close();
        } else {
            CloseGracefully(connection, context.m_options.nLingerMs);
        }
    } catch (const CBlockingSocketException& e) {
        ticket.Settle();
        context.m_log.LogSocketError(e, "SERVER:");
        CloseQuietly(connection);
    } catch (const std::exception&) {
        ticket.Settle();
        // Out of memory and the like: the connection ends without an answer.
        CloseQuietly(connection);
    }
}

// Failures of accept that pass once connections end: a client that opens connections until the
// process runs out of descriptors must not stop the service for good.
bool IsTransientAcceptError(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

// Logs the start of a run of admissions at the cap, once per run of each kind.
void LogAtCap(const CServiceContext& context, std::atomic<bool>& bLogged, std::string_view what) {
    if (!bLogged.exchange(true)) {
        context.m_log.Note("OrvaneSrv: credential service is at its cap of " +
                           std::to_string(context.m_options.nMaxConnections) +
                           " connections served at once, at most " +
                           std::to_string(context.m_slots.PortMax()) + " on one port; " +
                           std::string(what) + "\n");
    }
}

// Admits an accepted connection under the cap, waiting for room when it must; false when the
// service stops first.
bool AdmitUnderCap(CServiceContext& context, CConnectionSlots::CTicket& ticket) {
    switch (context.m_slots.TryAdmit(ticket)) {
    case CConnectionSlots::EAdmit::Admitted:
        context.m_bAtConnectionCap = false;
        context.m_bClosingAtCap = false;
        return true;
    case CConnectionSlots::EAdmit::AdmittedByClosing:
        LogAtCap(context, context.m_bClosingAtCap,
                 "the connection that has waited longest for its request is closed for each new "
                 "one");
        return true;
    case CConnectionSlots::EAdmit::Stopped:
        return false;
    case CConnectionSlots::EAdmit::Full:
        break;
    }
    LogAtCap(context, context.m_bAtConnectionCap, "further clients wait");
    return context.m_slots.WaitAndAdmit(ticket);
}

// Waits for one connection; false when the chain ends here.
bool AcceptOne(CServiceContext& context, EListener listener, CHttpBlockingSocket& connection,
               sockaddr_in& peer) {
    CBlockingSocket& listenSocket = ListenSocketOf(context, listener);
    for (;;) {
        try {
            const bool bAccepted = !context.m_bStopping && listenSocket.Accept(connection, peer);
            if (!bAccepted || context.m_bStopping) {
                if (bAccepted) {
                    connection.Close();
                }
                EndChain(context, listener);
                return false;
            }
            return true;
        } catch (const CBlockingSocketException& e) {
            context.m_log.LogSocketError(e, "SERVER:");
            if (!IsTransientAcceptError(e.m_nSocketError)) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
}

// Holds a connection's place among its address's connections while it is served.
class CAddressHolder {
public:
    CAddressHolder(CAddressConnections& addresses, uint32_t address)
        : m_addresses(addresses), m_address(address) {}
    ~CAddressHolder() { m_addresses.Give(m_address); }
    CAddressHolder(const CAddressHolder&) = delete;
    CAddressHolder& operator=(const CAddressHolder&) = delete;

private:
    CAddressConnections& m_addresses;
    const uint32_t m_address;
};

// Counts the connection against its address; false (the connection closed at once, the start
// of a run of refusals logged) when the address already holds its share.
bool AdmitAddress(CServiceContext& context, CHttpBlockingSocket& connection,
                  const sockaddr_in& peer) {
    const auto taken = context.m_addresses.Take(ntohl(peer.sin_addr.s_addr));
    if (taken == CAddressConnections::ETake::Taken) {
        return true;
    }
    if (taken == CAddressConnections::ETake::FirstRefused) {
        context.m_log.Note("OrvaneSrv: " + AddressText(peer) + " holds " +
                           std::to_string(context.m_options.nMaxConnectionsPerAddress) +
                           " connections; further connections from it are closed at once\n");
    }
    CloseQuietly(connection);
    return false;
}

// One turn of a connection thread: accept one connection, admit it under the cap (waiting
// there when it must: further clients wait in the listen queue meanwhile), start the next
// acceptor, serve. True when this thread is still the acceptor (no other could be started) and
// must accept again; false when the chain went on elsewhere or ended.
bool AcceptAndServe(const CAcceptorRole& role) {
    const std::shared_ptr<CServiceContext>& context = role.pContext;
    CHttpBlockingSocket connection;
    connection.m_nWaitMs = context->m_options.nWaitMs;
    connection.m_nMinProgressBytes = context->m_options.nMinSendBytes;
    connection.m_nProgressWindowMs = context->m_options.nSendWindowMs;
    // Serve closes or half-closes every connection right after its answer.
    connection.m_bAnswerEndsStream = true;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    if (!AcceptOne(*context, role.eListener, connection, peer)) {
        return false;
    }
    if (!AdmitAddress(*context, connection, peer)) {
        // Still the acceptor: the refused connection took no slot and no thread.
        return true;
    }
    const CAddressHolder address(context->m_addresses, ntohl(peer.sin_addr.s_addr));
    // Gone before the connection: its slot is given back, and it is settled before the
    // connection closes.
    CConnectionSlots::CTicket ticket(context->m_slots, role.eListener, connection.m_hSock.load());
    if (!AdmitUnderCap(*context, ticket)) {
        EndChain(*context, role.eListener);
        return false;
    }
    ++g_nConnectionCount;
    const bool bHandedOn = StartNextAcceptor(role);
    if (role.eListener == EListener::Tls) {
        try {
            connection.StartTls(context->m_tls);
        } catch (const CBlockingSocketException& e) {
            context->m_log.LogSocketError(e, "SERVER:");
            return !bHandedOn;
        }
    }
    Serve(connection, peer, *context, ticket);
    return !bHandedOn;
}

} // namespace

void ConnectionThread(CAcceptorRole role) {
    // Files go out with sendfile(), which has no MSG_NOSIGNAL: a client that closed early must
    // end its connection, not the process, whatever the host program made of SIGPIPE.
    sigset_t pipe{};
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    while (role.pContext) {
        while (AcceptAndServe(role)) {
        }
        // An idle thread holds nothing of the run it served, only the pool it waits in.
        const std::shared_ptr<CIdleConnectionThreads> pool = role.pContext->m_pIdleThreads;
        role = {};
        role = pool->WaitForWork();
    }
}

CCredentialService::CCredentialService()
    : m_pIdleThreads(std::make_shared<CIdleConnectionThreads>()) {}

CCredentialService::~CCredentialService() {
    StopCredentialServer();
}

void CCredentialService::StartCredentialServer(COrvaneSrvCore& core,
                                               const CServiceOptions& options) {
    auto context = std::make_shared<CServiceContext>(core, options, m_pIdleThreads);
    try {
        OpenListener(g_listenSocket, options.nPort, options.nBacklog);
    } catch (const CBlockingSocketException& e) {
        CloseQuietly(g_listenSocket);
        context->m_log.LogSocketError(e, "VIEW:");
        return;
    }
    m_pRun = context;
    g_bServerRunning = 1;
    g_nConnectionCount = 0;
    const std::string served = context->m_strDocRootError.empty()
                                   ? "serves files from " + EscapeForLog(context->m_strDocRoot)
                                   : "serves no files: " + EscapeForLog(context->m_strDocRootError);
    context->m_log.Note("OrvaneSrv: credential service on port " + std::to_string(Port()) + " " +
                        served + "\n");
    if (const int error = StartAcceptor({context}); error != 0) {
        // Without a first acceptor nothing would ever be accepted: better not to listen.
        g_bServerRunning = 0;
        m_pRun.reset();
        CloseQuietly(g_listenSocket);
        context->m_log.Note("OrvaneSrv: credential service cannot start a connection thread (" +
                            std::string(std::strerror(error)) + "); it does not run\n");
        return;
    }
    StartTlsListener(context);
}

void CCredentialService::StartTlsListener(const std::shared_ptr<CServiceContext>& context) {
    CTlsPortState state;
    const auto notServed = [&state](std::string reason) {
        state.eState = CTlsPortState::EState::NotServed;
        state.strReason = std::move(reason);
        CTlsPortState::Publish(std::move(state));
    };
    const CServiceOptions& options = context->m_options;
    if (options.certificateFolder.empty()) {
        CTlsPortState::Publish(state);
        return;
    }
    if (!LoadServiceCertificate(options.certificateFolder, context->m_tls, context->m_log,
                                std::chrono::system_clock::now(), state)) {
        notServed(state.strReason);
        return;
    }
    CBlockingSocket& listenSocket = context->m_tlsListenSocket;
    try {
        OpenListener(listenSocket, options.nTlsPort, options.nBacklog);
    } catch (const CBlockingSocketException& e) {
        // The plain port serves on: TLS is what is missing, and the log says so.
        CloseQuietly(listenSocket);
        context->m_log.LogSocketError(e, "VIEW:");
        notServed("port " + std::to_string(options.nTlsPort) + ": " + e.what());
        return;
    }
    context->m_bTlsRunning = 1;
    if (const int error = StartAcceptor({context, EListener::Tls}); error != 0) {
        context->m_bTlsRunning = 0;
        CloseQuietly(listenSocket);
        const std::string reason =
            "cannot start a connection thread (" + std::string(std::strerror(error)) + ")";
        context->m_log.Note("OrvaneSrv: credential service " + reason + "; TLS does not run\n");
        notServed(reason);
        return;
    }
    state.eState = CTlsPortState::EState::Serving;
    state.nPort = TlsPort();
    CTlsPortState::Publish(state);
    context->m_log.Note("OrvaneSrv: credential service over TLS on port " +
                        std::to_string(TlsPort()) + "\n");
}

void CCredentialService::StopCredentialServer() {
    if (!m_pRun) {
        return;
    }
    const std::shared_ptr<CServiceContext> run = std::move(m_pRun);
    run->m_bStopping = true;
    run->m_slots.Stop();
    // The answers hold passwords: they do not outlive the run's serving.
    run->m_queryCache.Clear();
    if (run->m_tlsListenSocket.HasSocket()) {
        StopListener(run->m_tlsListenSocket, run->m_bTlsRunning, run->m_log);
    }
    CTlsPortState::Publish({});
    if (g_bServerRunning.load() == 1 && g_listenSocket.HasSocket()) {
        StopListener(g_listenSocket, g_bServerRunning, run->m_log);
    }
    run->m_bCurrentRun = false;
}

std::size_t CCredentialService::ConnectionsServed() const {
    return m_pRun ? m_pRun->m_slots.Taken() : 0;
}

std::size_t CCredentialService::ConnectionsWaitingForRequest() const {
    return m_pRun ? m_pRun->m_slots.Waiting() : 0;
}

uint16_t CCredentialService::Port() const {
    return g_listenSocket.LocalPort();
}

uint16_t CCredentialService::TlsPort() const {
    return m_pRun ? m_pRun->m_tlsListenSocket.LocalPort() : 0;
}
