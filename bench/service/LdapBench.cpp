// Users of the site's LDAP directory on "/Query", beside local users, against a real slapd on a
// throw-away database (tests/support/ldap/slapd-fixture.sh) over ldaps:// with a search account
// and a group filter, as the lab's settings file has it. The service runs over service_bench's
// directory (1,000 users, 100 groups, 200 authorized storage servers), where the directory's
// cn=storage-admins names group0000 and group0033 and its cn=staff group0066: alice, who is in
// both, gets the arrays of local user0000 (groups 0, 33 and 66), in the same document.
//
// 1. "/Query" with 64 clients, one request per connection, by alice with her sign-in in the
//    cache and by user0000, rounds taken in turn against the same service over the same core,
//    the best of each kept (target: the directory user's rate at least 0.8 of the local user's).
// 2. Sign-ins that go to the directory every time: CLdapUsers with cache_seconds = 0 called
//    directly by as many threads as its pool has connections (a search as the search account,
//    a bind as the user, a search for the groups), beside bare simple binds as alice over as
//    many connections of CLdapConnection, one thread each: what slapd itself allows, so that
//    the difference is what the search, the groups and our side cost. Then the same through
//    "/Query" with 16 clients, the cache off, as a client would see it.
//
// The benchmark runs only inside a network namespace of its own with its loopback alone (it
// makes one, so it runs as root), starts slapd in a temporary folder and removes both at the
// end. Not run by ctest.
//
// Usage: ldap_bench [seconds per run, default 1.5] [rounds, default 3] [cached]
// "cached" measures the first two rows only (for a profiler to watch).
#include "bench/service/BenchClient.h"
#include "bench/service/BenchDirectory.h"
#include "core/settings/CProgramSettings.h"
#include "platform/text/Base64.h"
#include "service/CCredentialService.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sched.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using namespace bench;

constexpr int kClients = 64;
// Sign-ins that go to the directory keep a connection's thread busy for milliseconds: 64 clients
// from the one address would hit the service's cap on connections per address rather than
// measure the sign-ins, and the directory's pool of 4 connections is the bound anyway.
constexpr int kColdClients = 16;
constexpr double kDirectoryTarget = 0.8;
constexpr int kLdapPort = 3890;
constexpr int kLdapsPort = 6360;
// The longest the settings allow: no entry ends during a run.
constexpr int kWarmCacheSeconds = 60;

const std::string kBase = "dc=orvane,dc=lab";
const std::string kAliceDn = "uid=alice,ou=people," + kBase;
const std::string kAlicePassword = "alice-pass";
const std::u16string kAdminsDn = u"cn=storage-admins,ou=groups,dc=orvane,dc=lab";
const std::u16string kStaffDn = u"cn=staff,ou=groups,dc=orvane,dc=lab";

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string QueryRequest(const std::string& credentials) {
    return "POST /Query HTTP/1.0\r\nAuthorization: Basic " + Base64Encode(credentials) +
           "\r\n\r\nx\n";
}

// Only loopback inside a namespace of the process's own: nothing the benchmark sends can leave
// the machine.
bool Isolate() {
    return ::unshare(CLONE_NEWNET) == 0 && std::system("ip link set lo up") == 0;
}

// slapd over the fixture's database in a folder of its own; stopped, and the folder removed,
// when it goes.
class CSlapd {
public:
    explicit CSlapd(std::filesystem::path folder) : m_folder(std::move(folder)) {
        m_bRunning = Fixture("start " + m_folder.string() + " " + std::to_string(kLdapPort) + " " +
                             std::to_string(kLdapsPort)) == 0;
    }
    ~CSlapd() {
        Fixture("stop " + m_folder.string());
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
    }
    CSlapd(const CSlapd&) = delete;
    CSlapd& operator=(const CSlapd&) = delete;

    bool Running() const { return m_bRunning; }
    const std::filesystem::path& Folder() const { return m_folder; }

private:
    static int Fixture(const std::string& arguments) {
        const std::string command =
            std::string(ORVANE_SOURCE_DIR) + "/tests/support/ldap/slapd-fixture.sh " + arguments;
        return std::system(command.c_str());
    }

    std::filesystem::path m_folder;
    bool m_bRunning = false;
};

// The [ldap] settings as a site writes them (the lab's), with the cache's time given.
std::optional<CLdapSettings> LdapSettings(const std::filesystem::path& folder,
                                          const std::filesystem::path& caFile, int cacheSeconds) {
    const auto passwordFile = folder / "reader.pw";
    std::ofstream(passwordFile) << "reader-pass\n";
    ::chmod(passwordFile.c_str(), 0600);
    const auto file = folder / "orvanesrv.conf";
    std::ofstream(file) << "[ldap]\nuri = ldaps://127.0.0.1:" << kLdapsPort
                        << "\nca_file = " << caFile.string() << "\nbase = " << kBase
                        << "\nbind_dn = cn=reader," << kBase
                        << "\nbind_password_file = reader.pw"
                           "\ngroup_filter = (&(objectClass=groupOfNames)(member=%s))"
                           "\ntimeout = 5\ncache_seconds = "
                        << cacheSeconds << "\n";
    SSettingsLoad load = CProgramSettings::Load(file);
    if (!load.Ok() || !load.ldap) {
        std::fprintf(stderr, "ldap_bench: the settings were refused: %s\n",
                     load.error ? load.error->Text().c_str() : "no [ldap] section");
        return std::nullopt;
    }
    return std::move(load.ldap);
}

std::vector<std::u16string> DirectoryGroupsOf(int g) {
    switch (g) {
    case 0:
    case 33:
        return {kAdminsDn};
    case 66:
        return {kStaffDn};
    default:
        return {};
    }
}

// Runs the credential service over the core (with the directory users it has now) while body
// runs with its port.
template <class Body>
void RunService(COrvaneSrvCore& core, const std::filesystem::path& log, Body&& body) {
    CServiceOptions options;
    options.nPort = 0;
    options.nLogFd = -1;
    options.logFile = log;
    CCredentialService service;
    service.StartCredentialServer(core, options);
    body(service.Port());
    service.StopCredentialServer();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

// "/Query" measured once more: the best rate, and the least processor time per request (the
// clients' included), of the runs so far.
struct CQueryRuns {
    CResult best;
    double cpuMicros = 0;

    void Measure(uint16_t port, const std::vector<std::string>& requests, double seconds) {
        constexpr double kMicros = 1e6;
        const double start = ProcessCpuSeconds();
        const CResult result = bench::Measure(port, requests, kClients, seconds);
        const double done = result.rps * seconds;
        if (done > 0) {
            const double perRequest = (ProcessCpuSeconds() - start) * kMicros / done;
            cpuMicros = cpuMicros > 0 ? std::min(cpuMicros, perRequest) : perRequest;
        }
        KeepBest(best, result);
    }
};

struct CDirectoryRows {
    CQueryRuns local;
    CQueryRuns warm;
    CResult binds;
    CResult signIns;
    CResult cold;
};

// Bare simple binds as alice, each thread on a connection of its own, opened before the clock
// starts.
CResult MeasureBinds(const CLdapSettings& settings, int nConnections, double seconds) {
    std::vector<std::unique_ptr<CLdapConnection>> connections;
    for (int c = 0; c < nConnections; ++c) {
        connections.push_back(std::make_unique<CLdapConnection>(settings.ConnectionOptions()));
        if (const SLdapResult opened = connections.back()->Open(); !opened.Ok()) {
            std::fprintf(stderr, "ldap_bench: no connection for the binds: %s\n",
                         opened.message.c_str());
            return {};
        }
    }
    return MeasureCalls(nConnections, seconds, [&](int c, std::size_t) {
        return connections[static_cast<std::size_t>(c)]->Bind(kAliceDn, Bytes(kAlicePassword)).Ok();
    });
}

CResult MeasureSignIns(CLdapUsers& users, int nThreads, double seconds) {
    return MeasureCalls(nThreads, seconds, [&](int, std::size_t) {
        const SLdapUser user = users.SignIn("alice", Bytes(kAlicePassword));
        return user.result == ELdapSignIn::Ok && !user.bCached;
    });
}

// Whether alice and user0000 get the same document, a list of servers.
bool SameDocument(uint16_t port, const std::string& directoryQuery, const std::string& localQuery) {
    const std::string local = FetchBody(port, localQuery, nullptr);
    const std::string directory = FetchBody(port, directoryQuery, nullptr);
    if (local.find("MAC=") == std::string::npos || directory != local) {
        std::fprintf(stderr,
                     "ldap_bench: alice and user0000 are not sent the same list of "
                     "servers\n%s\n",
                     directory.substr(0, 200).c_str());
        return false;
    }
    return true;
}

int Run(double seconds, int nRounds, bool bCachedOnly, const std::filesystem::path& work) {
    const CSlapd slapd(work / "ldap");
    if (!slapd.Running()) {
        std::fprintf(stderr, "ldap_bench: slapd did not start (are slapd and ldap-utils "
                             "installed?)\n");
        return 1;
    }
    const auto warmSettings = LdapSettings(work, slapd.Folder() / "ca.pem", kWarmCacheSeconds);
    const auto coldSettings = LdapSettings(work, slapd.Folder() / "ca.pem", 0);
    if (!warmSettings || !coldSettings) {
        return 1;
    }
    COrvaneSrvCore core(std::make_unique<CRegistryHive>(work / "registry.db"));
    FillDirectory(core, DirectoryGroupsOf);
    const auto log = work / "log" / "service.log";
    const std::vector<std::string> directoryQueries = {QueryRequest("alice:" + kAlicePassword)};
    const std::vector<std::string> localQueries = {QueryRequest("user0000:password")};
    const int nConnections = static_cast<int>(SLdapDirectoryOptions{}.poolSize);

    CDirectoryRows rows;
    auto warmUsers = std::make_shared<CLdapUsers>(*warmSettings);
    auto coldUsers = std::make_shared<CLdapUsers>(*coldSettings);
    CLdapUsers signIns(*coldSettings);
    bool bSame = true;
    for (int i = 0; i < nRounds && bSame; ++i) {
        core.SetLdapUsers(warmUsers);
        RunService(core, log, [&](uint16_t port) {
            // The first sign-in of the run fills the cache; the rounds after it find it there.
            bSame = SameDocument(port, directoryQueries[0], localQueries[0]);
            // Each first in turn, so that neither always runs in what the other left behind.
            for (const bool bLocal : {i % 2 == 0, i % 2 != 0}) {
                (bLocal ? rows.local : rows.warm)
                    .Measure(port, bLocal ? localQueries : directoryQueries, seconds);
            }
        });
        if (bCachedOnly) {
            continue;
        }
        KeepBest(rows.binds, MeasureBinds(*warmSettings, nConnections, seconds));
        KeepBest(rows.signIns, MeasureSignIns(signIns, nConnections, seconds));
        core.SetLdapUsers(coldUsers);
        RunService(core, log, [&](uint16_t port) {
            KeepBest(rows.cold, port, directoryQueries, kColdClients, seconds);
        });
    }
    core.SetLdapUsers(nullptr);
    core.FreeTables();
    if (!bSame) {
        return 1;
    }
    const CResult& local = rows.local.best;
    PrintHeader("vs local", "of binds");
    PrintRow("/Query, local user", kClients, local, 0, 0);
    PrintRow("/Query, directory, cached", kClients, rows.warm.best, local.rps, 0);
    if (!bCachedOnly) {
        PrintRow("bind, CLdapConnection", nConnections, rows.binds, 0, 0);
        PrintRow("sign-in, CLdapUsers", nConnections, rows.signIns, 0, rows.binds.rps);
        PrintRow("/Query, directory, no cache", kColdClients, rows.cold, local.rps, rows.binds.rps);
    }
    const SLdapStatus warm = warmUsers->Status();
    std::printf("  processor time per \"/Query\" (clients included, least of the rounds): local "
                "user %.1f us, directory user %.1f us\n",
                rows.local.cpuMicros, rows.warm.cpuMicros);
    std::printf("  the cached runs asked the directory %llu times and found the sign-in in the "
                "cache %llu times\n",
                static_cast<unsigned long long>(warm.nSignIns),
                static_cast<unsigned long long>(warm.nCacheHits));
    PrintTargets({{"/Query directory user, cached, 64 clients, vs local",
                   Ratio(rows.warm.best, local), kDirectoryTarget, false, "x"}});
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.5;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (seconds <= 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: ldap_bench [seconds per run] [rounds] [cached]\n");
        return 2;
    }
    if (!Isolate()) {
        std::fprintf(stderr, "ldap_bench: cannot run in a network namespace of its own (it must "
                             "run as root, with ip from iproute2)\n");
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);
    char folder[] = "/tmp/orvane-ldap-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        std::perror("ldap_bench: mkdtemp");
        return 1;
    }
    const std::filesystem::path work = folder;
    const bool bCachedOnly = argc > 3 && std::string_view(argv[3]) == "cached";
    const int status = Run(seconds, rounds, bCachedOnly, work);
    std::error_code ec;
    std::filesystem::remove_all(work, ec);
    return status;
}
