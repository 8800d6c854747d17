// Load benchmark of the credential service. Starts the service on a loopback port over a
// directory of 1,000 users, 100 groups and 200 authorized storage servers (each user in 3
// groups, each group reaching 20 servers), and an nginx serving the same 2 KB default.htm on
// another loopback port, then measures one request per connection (HTTP/1.0) with 1, 16 and
// 64 concurrent clients: requests per second, p50/p99 latency, and connections that needed a
// SYN retransmit (a connect of a second or more). Then a fleet: 10,000 authorized servers and a
// user whose groups reach 2,000 of them, whose "/Query" answer (about 320 KB) is measured with
// 16 clients beside the GET of a file of the same bytes from both servers. The 2 KB GET with 64
// clients and the GET of that file are measured by wrk too, against both servers. Both servers
// log every request to a file. The run ends with the table of targets, each beside its measure,
// and the peak memory of the process with the fleet loaded. Over TLS, "/Query" with 16 clients
// is measured beside nginx sending the same documents as files, with the same certificate, a
// full handshake for every connection on both. Last, the fleet's "/Query" while a discovery pass
// over all 10,000 servers runs every 5 s through an in-memory directory agent (every record
// refreshed under the exclusive guard, so the answers kept for the tables' generation go stale
// thousands of times a pass), with the service's answer cache and without it, each run a whole
// period long so that every run holds one pass.
//
// Usage: service_bench [seconds per run, default 1.5] [runs per measurement, default 3]
//        [profile [clients] [query | empty | get] | fleet | churn | wrk | tls]
// "fleet" measures the fleet only, "churn" the fleet under discovery only, "tls" the rows over
// TLS only; "wrk" has wrk fetch the 2 KB page from nginx and from the service instead, for the
// given seconds each.
#include "bench/service/BenchClient.h"
#include "bench/service/BenchDirectory.h"
#include "bench/service/CDirectoryAgentSlp.h"
#include "bench/service/CDiscoveryChurn.h"
#include "core/CDirectoryMessage.h"
#include "platform/text/Base64.h"
#include "platform/tls/CCertificateStore.h"
#include "service/CCredentialService.h"
#include "service/answers/ServerListDocument.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace bench;

// The fleet: 10,000 authorized servers; "fleet" is in 10 groups of 200 servers each (2,000 in
// all), and the 1,000 other users reach 20 servers each.
constexpr int kFleetServers = 10000;
constexpr int kFleetGroups = 10;
constexpr int kFleetServersPerGroup = 200;
constexpr double kFleetP99TargetMs = 10;
constexpr int kManyClients = 64;
constexpr double kKilobytesPerMegabyte = 1024;

std::string FleetMac(int s) {
    return Name("00:00:00:0", s);
}

std::string FleetAddress(int s) {
    return "10.1." + std::to_string(s / 250) + "." + std::to_string(s % 250);
}

void FillFleet(COrvaneSrvCore& core) {
    auto user = std::make_unique<CUserData>(u"fleet", u"password");
    for (int g = 0; g < kFleetGroups; ++g) {
        auto group = std::make_unique<CGroupData>(U16(Name("fleet-group", g)));
        core.SendMessage(CDirectoryMessage::AddGroup(false, std::move(group)));
        auto access = std::make_unique<CGroupData>(U16(Name("fleet-group", g)));
        for (int k = 0; k < kFleetServersPerGroup; ++k) {
            // Every fifth server: the user's servers are spread over the whole table.
            access->m_listAccess.push_back(U16(FleetMac((g * kFleetServersPerGroup + k) * 5)));
        }
        core.SendMessage(CDirectoryMessage::SetGroupAccess(false, std::move(access)));
        user->m_listGroups.push_back(U16(Name("fleet-group", g)));
    }
    core.SendMessage(CDirectoryMessage::AddUser(false, std::move(user)));
    core.ChangeServers([](CServerTable& servers) {
        for (int s = 0; s < kFleetServers; ++s) {
            auto record = std::make_unique<CServerData>();
            record->SetMAC(FleetMac(s));
            record->SetIPAddr(FleetAddress(s));
            record->SetSystemName(Name("array-", s));
            record->SetProduct("Z220-S16");
            record->SetType("SAN");
            record->m_bAuthorized = 1;
            // As a login leaves it, with the element that lists it rendered.
            record->SetLoginCredentials(u"admin", u"adminpassword");
            servers.Add(U16(FleetMac(s)), std::move(record));
        }
    });
}

// What the directory agent holds for the fleet: every server at its address with the attributes
// its record holds, so that a pass refreshes each record as it stands and the answers keep their
// bytes.
std::vector<CRegisteredService> FleetRegistrations() {
    std::vector<CRegisteredService> services;
    services.reserve(kFleetServers);
    for (int s = 0; s < kFleetServers; ++s) {
        services.push_back({"service:raid.004417://" + FleetAddress(s),
                            "(mac=" + FleetMac(s) + "),(hostname=" + Name("array-", s) +
                                "),(product=Z220-S16),(type=SAN)"});
    }
    return services;
}

// nginx's TLS server: on its own port, with the certificate and key of a folder.
struct CNginxTls {
    uint16_t port = 0; // 0: none
    std::filesystem::path certificateFolder;
};

// The TLS server block: the protocols and session settings of ours (OpenSSL's own session cache
// and tickets), one request per connection. The bench's client never resumes a session, so every
// connection is a full handshake on both.
std::string NginxTlsServer(const CNginxTls& tls, const std::filesystem::path& root) {
    if (tls.port == 0) {
        return {};
    }
    const auto file = [&](std::string_view name) {
        return (tls.certificateFolder / name).string();
    };
    return "  server {\n    listen 127.0.0.1:" + std::to_string(tls.port) + " ssl;\n" +
           "    ssl_certificate " + file(CCertificateStore::kCertificateFile) + ";\n" +
           "    ssl_certificate_key " + file(CCertificateStore::kKeyFile) + ";\n" +
           "    ssl_protocols TLSv1.2 TLSv1.3;\n"
           "    ssl_session_cache builtin;\n    ssl_session_tickets on;\n"
           "    keepalive_timeout 0;\n"
           "    root " +
           root.string() + ";\n    index default.htm;\n  }\n";
}

// nginx with one worker per core on 127.0.0.1:port, serving root, and over TLS when asked;
// answers its process id.
pid_t StartNginx(const std::filesystem::path& prefix, const std::filesystem::path& root,
                 uint16_t port, const CNginxTls& tls) {
    std::filesystem::create_directories(prefix / "logs");
    const auto conf = prefix / "nginx.conf";
    std::ofstream(conf) << "worker_processes auto;\n"
                        << "daemon off;\nmaster_process on;\nuser root;\n"
                        << "pid " << (prefix / "nginx.pid").string() << ";\n"
                        << "error_log " << (prefix / "logs/error.log").string() << ";\n"
                        << "events { worker_connections 1024; }\n"
                        << "http {\n  access_log " << (prefix / "logs/access.log").string() << ";\n"
                        << "  client_body_temp_path " << (prefix / "body").string() << ";\n"
                        << "  proxy_temp_path " << (prefix / "proxy").string() << ";\n"
                        << "  fastcgi_temp_path " << (prefix / "fastcgi").string() << ";\n"
                        << "  uwsgi_temp_path " << (prefix / "uwsgi").string() << ";\n"
                        << "  scgi_temp_path " << (prefix / "scgi").string() << ";\n"
                        << "  server {\n    listen 127.0.0.1:" << port << ";\n"
                        << "    root " << root.string() << ";\n    index default.htm;\n  }\n"
                        << NginxTlsServer(tls, root) << "}\n";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        ::execlp("nginx", "nginx", "-p", prefix.c_str(), "-c", conf.c_str(), nullptr);
        std::_Exit(127);
    }
    return pid;
}

// Has wrk fetch the path with that many connections, one request each, for the seconds;
// answers the requests per second it reports (0 when it did not run). bEcho: its report goes
// to standard output as well.
double RunWrk(uint16_t port, std::string_view path, int nConnections, double seconds, bool bEcho) {
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + std::string(path);
    const std::string duration = std::to_string(std::max(1, static_cast<int>(seconds))) + "s";
    const std::string connections = std::to_string(nConnections);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return 0;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::execlp("wrk", "wrk", "-t2", "-c", connections.c_str(), "-d", duration.c_str(), "-H",
                 "Connection: close", url.c_str(), nullptr);
        std::fprintf(stderr, "wrk did not start (is wrk installed?)\n");
        std::_Exit(127);
    }
    ::close(out[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
        report.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    if (bEcho) {
        std::fputs(report.c_str(), stdout);
    }
    constexpr std::string_view kRate = "Requests/sec:";
    const std::size_t at = report.find(kRate);
    return at == std::string::npos ? 0 : std::atof(report.c_str() + at + kRate.size());
}

// The best of a few wrk runs against each server, taken in turn; printed as a row of ours beside
// nginx's. Answers our rate over nginx's.
double WrkRow(const char* name, int nRounds, uint16_t port, uint16_t nginxPort,
              std::string_view path, int nConnections, double seconds) {
    double ours = 0;
    double theirs = 0;
    for (int i = 0; i < nRounds; ++i) {
        theirs = std::max(theirs, RunWrk(nginxPort, path, nConnections, seconds, false));
        ours = std::max(ours, RunWrk(port, path, nConnections, seconds, false));
    }
    std::printf("%-26s %7d %10.0f %8s %8s %9s %7s %6s %8.2fx   (nginx %.0f)\n", name, nConnections,
                ours, "", "", "", "", "", theirs > 0 ? ours / theirs : 0, theirs);
    return theirs > 0 ? ours / theirs : 0;
}

// "/Query" over TLS with 16 clients beside nginx sending the same bytes over TLS, a file per
// user with that user's document, with the same certificate; one request per connection and a
// full handshake each. Prints both rows; answers our rate over nginx's.
template <class RunService>
double TlsRows(RunService& runService, const uint16_t& ourTlsPort, const COrvaneSrvCore& core,
               const std::filesystem::path& www, const std::vector<std::string>& queries,
               uint16_t nginxTlsPort, int nRounds, double seconds) {
    constexpr int kClients = 16;
    constexpr int kUsers = 1000;
    std::filesystem::create_directories(www / "query");
    std::vector<std::string> gets;
    for (int u = 0; u < kUsers; ++u) {
        std::string document;
        core.Read([&](const CTablesView& tables) {
            BuildServerListDocument(tables, Name("user", u), document);
        });
        std::ofstream(www / "query" / (Name("user", u) + ".xml")) << document;
        gets.push_back("GET /query/" + Name("user", u) + ".xml HTTP/1.0\r\n\r\n");
    }
    const auto client = TlsClientContext();
    CResult nginx, ours;
    runService(CServiceOptions::kDefaultBacklog, [&](uint16_t) {
        const std::string body = FetchBody(nginxTlsPort, gets[0], client.get());
        if (body.empty() || body != FetchBody(ourTlsPort, queries[0], client.get())) {
            std::fprintf(stderr, "nginx and the service do not send the same document\n");
            return;
        }
        for (int i = 0; i < nRounds; ++i) {
            KeepBest(nginx, nginxTlsPort, gets, kClients, seconds, client.get());
            KeepBest(ours, ourTlsPort, queries, kClients, seconds, client.get());
        }
    });
    PrintRow("same bytes over TLS, nginx", kClients, nginx, 0, 0);
    PrintRow("/Query over TLS", kClients, ours, nginx.rps, 0);
    return Ratio(ours, nginx);
}

// A pass every period, each run a whole period long: every run holds the start of one pass.
constexpr std::chrono::milliseconds kChurnPeriod{5000};

// The fleet's "/Query" with 16 clients while discovery passes over all of it every kChurnPeriod,
// from a service with its answer cache and from one without, beside nginx sending a file of the
// document's bytes; prints the three rows and what the passes did, and adds the targets.
template <class RunService>
void ChurnRows(RunService& runService, COrvaneSrvCore& fleet, uint16_t nginxPort,
               const std::vector<std::string>& fleetGets,
               const std::vector<std::string>& fleetQueries, int nRounds,
               std::vector<CTarget>& targets) {
    constexpr int kClients = 16;
    const double seconds = std::chrono::duration<double>(kChurnPeriod).count();
    CDirectoryAgentSlp::Register(FleetRegistrations());
    const auto generation = [&fleet] {
        return fleet.Read([](const CTablesView& tables) { return tables.generation; });
    };
    const uint64_t generationBefore = generation();
    const std::size_t queriesBefore = CDirectoryAgentSlp::AttrQueries();
    CResult nginxSameSize, cached, uncached;
    std::size_t nPasses = 0;
    std::chrono::milliseconds passTime{0};
    bool bSameBytes = true;
    // Whether the service sends nginx's bytes while the passes refresh every record as it stands.
    const auto sameBytes = [&](uint16_t port) {
        const std::string file = FetchBody(nginxPort, fleetGets[0], nullptr);
        return !file.empty() && file == FetchBody(port, fleetQueries[0], nullptr);
    };
    {
        // The listener is process-wide: the two services run in turn, each round.
        CDiscoveryChurn churn(fleet, CDirectoryAgentSlp::Functions(), kChurnPeriod);
        for (int i = 0; i < nRounds; ++i) {
            KeepBest(nginxSameSize, nginxPort, fleetGets, kClients, seconds);
            for (const auto& [cacheBytes, pBest] :
                 {std::pair{CServiceOptions::kDefaultQueryCacheBytes, &cached},
                  {std::size_t{0}, &uncached}}) {
                runService(
                    CServiceOptions::kDefaultBacklog,
                    [&, pBest = pBest](uint16_t port) {
                        KeepBest(*pBest, port, fleetQueries, kClients, seconds);
                        bSameBytes = bSameBytes && sameBytes(port);
                    },
                    &fleet, cacheBytes);
            }
        }
        nPasses = churn.PassesEnded();
        passTime = churn.PassTime();
    }
    PrintRow("GET same size, nginx", kClients, nginxSameSize, 0, 0);
    PrintRow("/Query during discovery", kClients, cached, nginxSameSize.rps, 0);
    PrintRow("/Query discovery, no cache", kClients, uncached, nginxSameSize.rps, 0);
    std::printf("  discovery: %zu passes ended, %lld ms each on average, %zu attribute queries, "
                "the generation moved %llu times\n",
                nPasses,
                nPasses > 0
                    ? static_cast<long long>(passTime.count() / static_cast<long long>(nPasses))
                    : 0LL,
                CDirectoryAgentSlp::AttrQueries() - queriesBefore,
                static_cast<unsigned long long>(generation() - generationBefore));
    if (!bSameBytes) {
        std::fprintf(stderr, "during discovery the service and nginx do not send the same "
                             "document\n");
    }
    targets.push_back({"/Query 2,000 of 10,000 in discovery, vs nginx's file",
                       Ratio(cached, nginxSameSize), 0.8, false, "x"});
    targets.push_back(
        {"/Query 2,000 of 10,000 in discovery, p99", cached.p99, kFleetP99TargetMs, true, " ms"});
    targets.push_back({"/Query in discovery without cache, vs nginx's file",
                       Ratio(uncached, nginxSameSize), 0.8, false, "x"});
    targets.push_back(
        {"/Query in discovery without cache, p99", uncached.p99, kFleetP99TargetMs, true, " ms"});
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.5;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    // "profile [clients] [query | empty | get]": one request kind only (by default "/Query"
    // with 16 clients), for a profiler to watch; the service logs to a file as in the full run.
    if (argc > 3 && std::string_view(argv[3]) == "profile") {
        const int clients = argc > 4 ? std::atoi(argv[4]) : 16;
        const std::string_view kind = argc > 5 ? argv[5] : "query";
        // A folder of its own: opening a store narrows its folder to the owner.
        char folder[] = "/tmp/orvane-bench-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            return 1;
        }
        const std::filesystem::path work = folder;
        std::filesystem::create_directories(work / "www");
        std::ofstream(work / "www" / "default.htm") << std::string(2048, 'x');
        auto core =
            std::make_unique<COrvaneSrvCore>(std::make_unique<CRegistryHive>(work / "registry.db"));
        FillDirectory(*core);
        CServiceOptions options;
        options.nPort = 0;
        options.nLogFd = -1;
        options.logFile = work / "log" / "service.log";
        options.docRoot = work / "www";
        CCredentialService service;
        service.StartCredentialServer(*core, options);
        std::vector<std::string> requests;
        for (int u = 0; u < 1000; ++u) {
            const std::string user = kind == "empty" ? "nogroups" : Name("user", u);
            requests.push_back(kind == "get"
                                   ? "GET / HTTP/1.0\r\nConnection: close\r\n\r\n"
                                   : "POST /Query HTTP/1.0\r\nAuthorization: Basic " +
                                         Base64Encode(user + ":password") + "\r\n\r\nx\n");
        }
        rusage before{};
        ::getrusage(RUSAGE_SELF, &before);
        const CResult r = Measure(service.Port(), requests, clients, seconds);
        rusage after{};
        ::getrusage(RUSAGE_SELF, &after);
        auto micros = [](const timeval& t) { return t.tv_sec * 1e6 + t.tv_usec; };
        const double cpu = micros(after.ru_utime) - micros(before.ru_utime) +
                           micros(after.ru_stime) - micros(before.ru_stime);
        const double requestsDone = r.rps * seconds;
        std::printf("%.0f req/s, p50 %.3f ms, p99 %.3f ms, %.1f us CPU per request (clients "
                    "included)\n",
                    r.rps, r.p50, r.p99, requestsDone > 0 ? cpu / requestsDone : 0);
        service.StopCredentialServer();
        core->FreeTables();
        core.reset();
        std::filesystem::remove_all(work);
        return 0;
    }
    std::signal(SIGPIPE, SIG_IGN);
    char dirTemplate[] = "/tmp/orvane-bench-XXXXXX";
    const std::filesystem::path work = ::mkdtemp(dirTemplate);
    const auto www = work / "www";
    std::filesystem::create_directories(www);
    std::filesystem::permissions(work, std::filesystem::perms(0755));
    {
        std::string page = "<html><head><title>OrvaneSrv</title></head><body>\n";
        while (page.size() < 2048 - 16) {
            page += "<p>storage</p>\n";
        }
        page.resize(2048 - 15, ' ');
        page += "</body></html>\n";
        std::ofstream(www / "default.htm") << page;
    }

    auto core = std::make_unique<COrvaneSrvCore>(std::make_unique<CRegistryHive>(work / "reg.db"));
    FillDirectory(*core);
    // As nginx logs every request to its access log, the service logs to a file only.
    const auto serviceLog = work / "log" / "service.log";

    // One certificate for both servers: made here, found by the service in the same folder.
    const auto certificates = work / "tls";
    if (CCertificateStore certificate; !certificate.Load(certificates)) {
        std::fprintf(stderr, "no certificate: %s\n", certificate.Error().c_str());
        return 1;
    }
    const uint16_t nginxPort = FreePort();
    const uint16_t nginxTlsPort = FreePort();
    const pid_t nginx = StartNginx(work / "nginx", www, nginxPort, {nginxTlsPort, certificates});
    if (!WaitListening(nginxPort) || !WaitListening(nginxTlsPort)) {
        std::fprintf(stderr, "nginx did not start (is nginx-light installed?)\n");
        return 1;
    }
    // Stops nginx and removes what the run made; the exit status of the run.
    auto Finish = [&] {
        ::kill(nginx, SIGQUIT);
        ::waitpid(nginx, nullptr, 0);
        core->FreeTables();
        std::error_code ec;
        std::filesystem::remove_all(work, ec);
        return 0;
    };

    std::vector<std::string> queries;
    for (int u = 0; u < 1000; ++u) {
        queries.push_back("POST /Query HTTP/1.0\r\nAuthorization: Basic " +
                          Base64Encode(Name("user", u) + ":password") + "\r\n\r\nx\n");
    }
    // The same request path for a user without groups: the cost of the 12 KB document shows.
    const std::vector<std::string> emptyQueries = {"POST /Query HTTP/1.0\r\nAuthorization: Basic " +
                                                   Base64Encode("nogroups:password") +
                                                   "\r\n\r\nx\n"};
    const std::vector<std::string> gets = {"GET / HTTP/1.0\r\nConnection: close\r\n\r\n"};

    uint16_t ourTlsPort = 0; // the TLS port of the service that runService runs
    auto runService = [&](int backlog, auto&& body, COrvaneSrvCore* served = nullptr,
                          std::size_t queryCacheBytes = CServiceOptions::kDefaultQueryCacheBytes) {
        CServiceOptions options;
        options.nQueryCacheBytes = queryCacheBytes;
        options.nPort = 0;
        options.certificateFolder = certificates;
        options.nTlsPort = 0;
        options.nBacklog = backlog;
        options.nLogFd = -1;
        options.logFile = serviceLog;
        options.docRoot = www;
        CCredentialService service;
        service.StartCredentialServer(served != nullptr ? *served : *core, options);
        ourTlsPort = service.TlsPort();
        body(service.Port());
        service.StopCredentialServer();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    };

    if (argc > 3 && std::string_view(argv[3]) == "wrk") {
        runService(CServiceOptions::kDefaultBacklog, [&](uint16_t port) {
            for (const auto& [name, target] :
                 {std::pair{"nginx", nginxPort}, {"OrvaneSrv", port}}) {
                std::printf("GET 2 KB, %d connections, one request each, by wrk: %s\n",
                            kManyClients, name);
                std::fflush(stdout);
                RunWrk(target, "/", kManyClients, seconds, true);
            }
        });
        return Finish();
    }
    PrintHeader("vs nginx", "vs our GET");
    const bool bFleetOnly = argc > 3 && std::string_view(argv[3]) == "fleet";
    const bool bTlsOnly = argc > 3 && std::string_view(argv[3]) == "tls";
    const bool bChurnOnly = argc > 3 && std::string_view(argv[3]) == "churn";
    const bool bSmallRows = !bFleetOnly && !bTlsOnly && !bChurnOnly;
    std::vector<CTarget> targets;
    runService(CServiceOptions::kDefaultBacklog, [&](uint16_t port) {
        if (!bSmallRows) {
            return;
        }
        for (const int clients : {1, 16, kManyClients}) {
            CResult nginxGet, ourGet, query, empty;
            for (int i = 0; i < rounds; ++i) {
                KeepBest(nginxGet, nginxPort, gets, clients, seconds);
                KeepBest(ourGet, port, gets, clients, seconds);
                KeepBest(query, port, queries, clients, seconds);
                KeepBest(empty, port, emptyQueries, clients, seconds);
            }
            PrintRow("GET 2 KB, nginx", clients, nginxGet, 0, 0);
            PrintRow("GET 2 KB, OrvaneSrv", clients, ourGet, nginxGet.rps, 0);
            PrintRow("POST /Query, OrvaneSrv", clients, query, nginxGet.rps, ourGet.rps);
            PrintRow("POST /Query, no servers", clients, empty, nginxGet.rps, ourGet.rps);
            if (clients == kManyClients) {
                targets.push_back(
                    {"GET 2 KB, 64 clients, by wrk, vs nginx",
                     WrkRow("GET 2 KB by wrk", rounds, port, nginxPort, "/", clients, seconds), 1.0,
                     false, "x"});
                targets.push_back(
                    {"GET 2 KB, 64 clients, vs nginx", Ratio(ourGet, nginxGet), 1.0, false, "x"});
                targets.push_back({"/Query 200 servers, 64 clients, vs nginx GET 2 KB",
                                   Ratio(query, nginxGet), 0.95, false, "x"});
            }
        }
    });
    runService(5, [&](uint16_t port) {
        if (!bSmallRows) {
            return;
        }
        PrintRow("GET 2 KB, backlog 5", 64, BestOf(rounds, port, gets, 64, seconds), 0, 0);
        PrintRow("POST /Query, backlog 5", 64, BestOf(rounds, port, queries, 64, seconds), 0, 0);
    });
    if (bSmallRows || bTlsOnly) {
        targets.push_back(
            {"/Query over TLS, 16 clients, vs nginx over TLS",
             TlsRows(runService, ourTlsPort, *core, www, queries, nginxTlsPort, rounds, seconds),
             0.9, false, "x"});
    }
    if (bTlsOnly) {
        PrintTargets(targets);
        return Finish();
    }

    auto fleet = std::make_unique<COrvaneSrvCore>(std::make_unique<CRegistryHive>(work / "f.db"));
    FillFleet(*fleet);
    // The ceiling of moving a document that large: a static file of its size, from nginx and
    // from us.
    std::string document;
    fleet->Read(
        [&](const CTablesView& tables) { BuildServerListDocument(tables, "fleet", document); });
    std::ofstream(www / "fleet.xml") << document;
    const std::vector<std::string> fleetGets = {
        "GET /fleet.xml HTTP/1.0\r\nConnection: close\r\n\r\n"};
    const std::vector<std::string> fleetQueries = {"POST /Query HTTP/1.0\r\nAuthorization: Basic " +
                                                   Base64Encode("fleet:password") + "\r\n\r\nx\n"};
    runService(
        CServiceOptions::kDefaultBacklog,
        [&](uint16_t port) {
            if (bChurnOnly) {
                return;
            }
            constexpr int kClients = 16;
            CResult nginxGet, ourGet, query, nginxSameSize, ourSameSize;
            for (int i = 0; i < rounds; ++i) {
                KeepBest(nginxGet, nginxPort, gets, kClients, seconds);
                KeepBest(ourGet, port, gets, kClients, seconds);
                KeepBest(query, port, fleetQueries, kClients, seconds);
                KeepBest(nginxSameSize, nginxPort, fleetGets, kClients, seconds);
                KeepBest(ourSameSize, port, fleetGets, kClients, seconds);
            }
            PrintRow("GET 2 KB, nginx", kClients, nginxGet, 0, 0);
            PrintRow("GET 2 KB, fleet", kClients, ourGet, nginxGet.rps, 0);
            PrintRow("/Query 2,000 of 10,000", kClients, query, nginxGet.rps, ourGet.rps);
            PrintRow("GET same size, nginx", kClients, nginxSameSize, nginxGet.rps, ourGet.rps);
            PrintRow("GET same size, OrvaneSrv", kClients, ourSameSize, nginxGet.rps, ourGet.rps);
            const double wrkRatio = WrkRow("GET same size by wrk", rounds, port, nginxPort,
                                           "/fleet.xml", kClients, seconds);
            std::printf("  the document: %zu bytes\n", document.size());
            targets.push_back(
                {"GET of that file, 16 clients, by wrk, vs nginx", wrkRatio, 1.0, false, "x"});
            targets.push_back({"GET of that file, 16 clients, vs nginx",
                               Ratio(ourSameSize, nginxSameSize), 1.0, false, "x"});
            targets.push_back({"/Query 2,000 of 10,000, 16 clients, vs nginx's file",
                               Ratio(query, nginxSameSize), 0.8, false, "x"});
            targets.push_back({"/Query 2,000 of 10,000, 16 clients, p99", query.p99,
                               kFleetP99TargetMs, true, " ms"});
        },
        fleet.get());
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    targets.push_back({"peak memory with 10,000 authorized servers",
                       static_cast<double>(usage.ru_maxrss) / kKilobytesPerMegabyte, 200, true,
                       " MB"});
    ChurnRows(runService, *fleet, nginxPort, fleetGets, fleetQueries, rounds, targets);
    fleet->FreeTables();

    PrintTargets(targets);

    return Finish();
}
