// The HTTP client of the service benchmarks and the tables they print: clients that send one
// request per connection to a loopback port (over TLS when asked) and read the answer to its
// end, the best of a few rounds, a row of figures beside a peer's, and the closing table of
// targets. One client for every benchmark, so that their figures compare.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <openssl/ssl.h>
#include <span>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// A row of the closing table: a measure beside the value it must reach (or stay below).
struct CTarget {
    const char* name;
    double measured;
    double target;
    bool bAtMost;
    const char* unit;
};

struct CResult {
    double rps = 0;
    double p50 = 0;
    double p99 = 0;
    double max = 0;
    long errors = 0;
    long slowConnects = 0;
};

// A loopback port that was free a moment ago.
uint16_t FreePort();
// A new connection to the loopback port, without Nagle's delay; -1 when it was refused.
int Connect(uint16_t port);
// Whether the port accepts connections within about five seconds.
bool WaitListening(uint16_t port);

// The client's TLS settings: every connection a new session and a full handshake (nothing is
// kept to resume), and the server is not verified, so that the client costs as little as it can
// on the machine it shares with the servers.
struct SslCtxFree {
    void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
};
std::unique_ptr<SSL_CTX, SslCtxFree> TlsClientContext();

// Sends the request over a connected socket, over TLS when tls is given, and reads the answer
// to the end of the stream; answers how many bytes came, and keeps them in pKept when given.
std::size_t Exchange(int fd, const std::string& request, std::span<char> buffer, SSL_CTX* tls,
                     std::string* pKept = nullptr);
// The body of one answer to the request.
std::string FetchBody(uint16_t port, const std::string& request, SSL_CTX* tls);

// nThreads threads that each make call(thread, n) again and again for the seconds, n counting
// that thread's calls from 0; a call that answers false is an error and is not timed. The rate
// and the latencies of the calls that succeeded.
using Call = std::function<bool(int thread, std::size_t n)>;
CResult MeasureCalls(int nThreads, double seconds, const Call& call);
// Clients that each send one request per connection and read the answer to its end; over TLS
// when tls is given.
CResult Measure(uint16_t port, const std::vector<std::string>& requests, int nClients,
                double seconds, SSL_CTX* tls = nullptr);
// Keeps the result if it beat the best so far.
void KeepBest(CResult& best, const CResult& result);
// Measures once more and keeps the result if it beat the best so far.
void KeepBest(CResult& best, uint16_t port, const std::vector<std::string>& requests, int nClients,
              double seconds, SSL_CTX* tls = nullptr);
// The machine is shared: the best of a few short runs, taken in turn for every server, is what
// interference leaves least distorted.
CResult BestOf(int nRounds, uint16_t port, const std::vector<std::string>& requests, int nClients,
               double seconds);
double Ratio(const CResult& ours, const CResult& theirs);

// The processor time of the whole process so far (every thread, user and kernel): per request,
// it is disturbed less than the rate by other work on the machine.
double ProcessCpuSeconds();

// The head of the table of rows; the last two columns are named by the caller.
void PrintHeader(const char* peerColumn, const char* baseColumn);
// One row of the table: the measure, its ratio to a peer's rate and its share of a base rate,
// each when given.
void PrintRow(const char* name, int clients, const CResult& r, double peerRps, double baseRps);
void PrintTargets(const std::vector<CTarget>& targets);

} // namespace bench
