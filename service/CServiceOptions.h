// The settings of one run of the credential service. The program uses the defaults and names
// its log file; tests use a free port, short waits, small limits, a log of their own and seams
// for the clock and for starting threads.
#pragma once

#include "service/CServiceLog.h"
#include "service/http/CLoginThrottle.h"
#include "service/listener/CBlockingSocket.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>

struct CServiceOptions {
    static constexpr uint16_t kDefaultPort = 51001;
    static constexpr uint16_t kDefaultTlsPort = 51443;
    // Enough pending connections that bursts of clients are not dropped while the next
    // acceptor thread starts; see the benchmark.
    static constexpr int kDefaultBacklog = 128;
    // Connections served at once, both ports together; see CConnectionSlots.
    static constexpr std::size_t kDefaultMaxConnections = 1024;
    static constexpr std::size_t kDefaultQueryCacheBytes = std::size_t{64} << 20;
    // Connections one client address may hold at once, both ports together; more are closed as
    // they are accepted. A small share of the cap: a few addresses cannot fill it.
    static constexpr std::size_t kDefaultMaxConnectionsPerAddress = 64;
    // The share of the process's descriptors that connections may take at most: the rest stay
    // for discovery's sockets, logins and the files GET opens.
    static constexpr uint64_t kConnectionShareOfDescriptors = 4;
    // Each connection is served by a thread of its own: beyond this many, the threads' stacks
    // and TLS buffers would cost more memory than the descriptors are worth.
    static constexpr std::size_t kMostConnections = 16384;

    // The cap on connections for a process allowed nOpenFiles descriptors: a quarter of them,
    // never more than kMostConnections.
    static constexpr std::size_t MaxConnectionsFor(uint64_t nOpenFiles) {
        const uint64_t share = nOpenFiles / kConnectionShareOfDescriptors;
        return share == 0                 ? 1
               : share < kMostConnections ? static_cast<std::size_t>(share)
                                          : kMostConnections;
    }

    // Starts a thread that runs job: 0, or an errno value when no thread could be started.
    using ThreadStarter = std::function<int(std::function<void()> job)>;

    uint16_t nPort = kDefaultPort; // 0: any free port (read back with CredentialServerPort)
    // The same service over TLS on a second port, with the certificate and key kept in this
    // folder (made there at the first start); empty: no TLS port.
    std::filesystem::path certificateFolder;
    uint16_t nTlsPort = kDefaultTlsPort; // 0: any free port (read back with TlsPort)
    // "/Query" is answered over TLS only; the plain port gives it the not-found answer.
    bool bHttpsOnlyQuery = false;
    int nWaitMs = CBlockingSocket::kDefaultWaitMs;
    int nHeaderDeadlineMs = 10000;  // request line and header lines
    int nRequestDeadlineMs = 30000; // request line, header lines and body line together
    int nLingerMs = 2000;           // after a response, wait this long for the client to close
    int nBacklog = kDefaultBacklog;
    std::size_t nMaxConnections = kDefaultMaxConnections;
    std::size_t nMaxConnectionsPerAddress = kDefaultMaxConnectionsPerAddress;
    ThreadStarter startThread; // empty: a detached thread with a small stack
    // A response that moves fewer bytes than this within the window is ended.
    std::size_t nMinSendBytes = CBlockingSocket::kDefaultMinProgressBytes;
    int nSendWindowMs = CBlockingSocket::kDefaultProgressWindowMs;
    std::filesystem::path docRoot; // empty: the working directory at start
    int nLogFd = 2;                // where the log lines go (standard error); -1: nowhere
    std::filesystem::path logFile; // a file that the log goes to as well; empty: none
    uint64_t nLogFileMaxBytes = CServiceLog::kDefaultMaxFileBytes;
    int nLogFilesKept = CServiceLog::kDefaultKeptFiles;
    // Password guessing: this many failed credential checks from one address within the window
    // block it; this many for one user name slow that name's checks down to one per interval;
    // at most this many addresses (and as many names) are remembered.
    int nMaxFailedChecks = CLoginThrottle::kDefaultMaxFailures;
    int nMaxFailedChecksPerName = CLoginThrottle::kDefaultMaxNameFailures;
    std::chrono::milliseconds failureWindow = CLoginThrottle::kDefaultWindow;
    std::chrono::milliseconds nameCheckInterval = CLoginThrottle::kDefaultNameCheckInterval;
    std::size_t nMaxThrottledAddresses = CLoginThrottle::kDefaultMaxAddresses;
    // The "/Query" answers kept for users who ask again, at most this many bytes in all; 0 keeps
    // none, so that every answer is composed (the benchmark measures what the cache saves).
    std::size_t nQueryCacheBytes = kDefaultQueryCacheBytes;
    // The time the throttle goes by; empty: the steady clock. Tests move it by hand.
    std::function<std::chrono::steady_clock::time_point()> clock;
};
