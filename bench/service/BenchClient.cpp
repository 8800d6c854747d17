// The benchmarks' HTTP client and their tables; see BenchClient.h.
#include "bench/service/BenchClient.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace bench {

double ProcessCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        constexpr double kMicros = 1e6;
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / kMicros;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void PrintHeader(const char* peerColumn, const char* baseColumn) {
    std::printf("%-26s %7s %10s %8s %8s %9s %7s %6s %9s %11s\n", "test", "clients", "req/s",
                "p50 ms", "p99 ms", "max ms", "errors", "syn1s", peerColumn, baseColumn);
}

uint16_t FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t len = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &len);
    ::close(fd);
    return ntohs(address.sin_port);
}

int Connect(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool WaitListening(uint16_t port) {
    for (int i = 0; i < 200; ++i) {
        if (const int fd = Connect(port); fd >= 0) {
            ::close(fd);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

std::unique_ptr<SSL_CTX, SslCtxFree> TlsClientContext() {
    std::unique_ptr<SSL_CTX, SslCtxFree> context(SSL_CTX_new(TLS_client_method()));
    if (context != nullptr) {
        SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
        SSL_CTX_set_session_cache_mode(context.get(), SSL_SESS_CACHE_OFF);
        SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
    }
    return context;
}

std::size_t Exchange(int fd, const std::string& request, std::span<char> buffer, SSL_CTX* tls,
                     std::string* pKept) {
    std::size_t got = 0;
    if (tls == nullptr) {
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            for (ssize_t r; (r = ::recv(fd, buffer.data(), buffer.size(), 0)) > 0;) {
                got += static_cast<std::size_t>(r);
                if (pKept != nullptr) {
                    pKept->append(buffer.data(), static_cast<std::size_t>(r));
                }
            }
        }
        return got;
    }
    const std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(tls), SSL_free);
    std::size_t n = 0;
    if (ssl == nullptr || SSL_set_fd(ssl.get(), fd) != 1 || SSL_connect(ssl.get()) != 1 ||
        SSL_write_ex(ssl.get(), request.data(), request.size(), &n) != 1) {
        return 0;
    }
    while (SSL_read_ex(ssl.get(), buffer.data(), buffer.size(), &n) == 1) {
        got += n;
        if (pKept != nullptr) {
            pKept->append(buffer.data(), n);
        }
    }
    return got;
}

std::string FetchBody(uint16_t port, const std::string& request, SSL_CTX* tls) {
    std::string answer;
    char buffer[65536];
    if (const int fd = Connect(port); fd >= 0) {
        Exchange(fd, request, buffer, tls, &answer);
        ::close(fd);
    }
    const std::size_t body = answer.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : answer.substr(body + 4);
}

CResult MeasureCalls(int nThreads, double seconds, const Call& call) {
    std::atomic<bool> bStop{false};
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(nThreads));
    std::atomic<long> errors{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < nThreads; ++t) {
        threads.emplace_back([&, t] {
            auto& mine = latencies[static_cast<std::size_t>(t)];
            mine.reserve(200000);
            for (std::size_t n = 0; !bStop; ++n) {
                const auto start = Clock::now();
                if (!call(t, n)) {
                    ++errors;
                    continue;
                }
                mine.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    bStop = true;
    for (auto& t : threads) {
        t.join();
    }
    std::vector<double> all;
    for (const auto& v : latencies) {
        all.insert(all.end(), v.begin(), v.end());
    }
    CResult result;
    result.errors = errors;
    if (all.empty()) {
        return result;
    }
    std::sort(all.begin(), all.end());
    result.rps = static_cast<double>(all.size()) / seconds;
    result.p50 = all[all.size() / 2];
    result.p99 = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    result.max = all.back();
    return result;
}

CResult Measure(uint16_t port, const std::vector<std::string>& requests, int nClients,
                double seconds, SSL_CTX* tls) {
    constexpr std::size_t kBufferBytes = 65536;
    // Each client starts at a different request, so that they do not all ask the same at once.
    constexpr std::size_t kStride = 7919;
    std::vector<std::vector<char>> buffers(static_cast<std::size_t>(nClients),
                                           std::vector<char>(kBufferBytes));
    std::atomic<long> slow{0};
    CResult result = MeasureCalls(nClients, seconds, [&](int c, std::size_t n) {
        const auto client = static_cast<std::size_t>(c);
        const std::string& request = requests[(client * kStride + n) % requests.size()];
        const auto start = Clock::now();
        const int fd = Connect(port);
        if (fd < 0) {
            return false;
        }
        if (Clock::now() - start >= std::chrono::milliseconds(900)) {
            ++slow;
        }
        const std::size_t got = Exchange(fd, request, buffers[client], tls);
        ::close(fd);
        return got > 0;
    });
    result.slowConnects = slow;
    return result;
}

void PrintRow(const char* name, int clients, const CResult& r, double peerRps, double baseRps) {
    std::printf("%-26s %7d %10.0f %8.3f %8.3f %9.3f %7ld %6ld", name, clients, r.rps, r.p50, r.p99,
                r.max, r.errors, r.slowConnects);
    if (peerRps > 0) {
        std::printf(" %8.2fx", r.rps / peerRps);
    } else {
        std::printf(" %9s", "");
    }
    if (baseRps > 0) {
        std::printf(" %10.0f%%", 100.0 * r.rps / baseRps);
    }
    std::printf("\n");
}

double Ratio(const CResult& ours, const CResult& theirs) {
    return theirs.rps > 0 ? ours.rps / theirs.rps : 0;
}

void KeepBest(CResult& best, const CResult& result) {
    if (result.rps > best.rps) {
        best = result;
    }
}

void KeepBest(CResult& best, uint16_t port, const std::vector<std::string>& requests, int nClients,
              double seconds, SSL_CTX* tls) {
    KeepBest(best, Measure(port, requests, nClients, seconds, tls));
}

CResult BestOf(int nRounds, uint16_t port, const std::vector<std::string>& requests, int nClients,
               double seconds) {
    CResult best;
    for (int i = 0; i < nRounds; ++i) {
        KeepBest(best, port, requests, nClients, seconds);
    }
    return best;
}

void PrintTargets(const std::vector<CTarget>& targets) {
    std::printf("\n%-52s %10s %10s\n", "target", "measured", "target");
    for (const CTarget& t : targets) {
        const bool bMet = t.bAtMost ? t.measured < t.target : t.measured >= t.target;
        std::printf("%-52s %8.2f%-2s %s%6.2f%-2s %s\n", t.name, t.measured, t.unit,
                    t.bAtMost ? "< " : ">=", t.target, t.unit, bMet ? "met" : "MISSED");
    }
}

} // namespace bench
