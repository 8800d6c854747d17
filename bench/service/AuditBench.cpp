// The cost of the audit trail on "/Query": the credential service on a loopback port over a
// directory of 100 users, 10 groups and 50 authorized storage servers (each user's answer
// carries 20 of them), queried by 8 clients, one request per connection (HTTP/1.0), for a few
// seconds with no trail and with a trail on disk, alternately, several times. Prints the rates
// side by side and the cost in percent (target: under 5 %), and the process's processor time
// per query, which a machine busy with other work disturbs less than the rate (the kernel's
// writeback threads are not in it).
//
// The trail goes to a folder under TMPDIR (default /tmp): point TMPDIR at the file system the
// program's state folder is on, since the cost is mostly the kernel's for the writes.
//
// Usage: audit_bench [seconds per run, default 2] [runs, default 3]
#include "bench/service/BenchClient.h"
#include "core/CDirectoryMessage.h"
#include "core/audit/CAuditTrail.h"
#include "service/CCredentialService.h"
#include "tests/service/CClient.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kUsers = 100;
constexpr int kGroups = 10;
constexpr int kServers = 50;
constexpr int kServersPerGroup = 20;
constexpr int kClients = 8;

std::u16string U16(const std::string& text) {
    return {text.begin(), text.end()};
}

std::string Mac(int s) {
    char text[32];
    std::snprintf(text, sizeof text, "00:00:00:00:%02x", s);
    return text;
}

void FillDirectory(COrvaneSrvCore& core) {
    for (int g = 0; g < kGroups; ++g) {
        const std::u16string name = U16("group" + std::to_string(g));
        core.SendMessage(CDirectoryMessage::AddGroup(false, std::make_unique<CGroupData>(name)));
        auto access = std::make_unique<CGroupData>(name);
        for (int k = 0; k < kServersPerGroup; ++k) {
            access->m_listAccess.push_back(U16(Mac((g * 5 + k) % kServers)));
        }
        core.SendMessage(CDirectoryMessage::SetGroupAccess(false, std::move(access)));
    }
    for (int u = 0; u < kUsers; ++u) {
        auto user = std::make_unique<CUserData>(U16("user" + std::to_string(u)), u"password");
        user->m_listGroups.push_back(U16("group" + std::to_string(u % kGroups)));
        core.SendMessage(CDirectoryMessage::AddUser(false, std::move(user)));
    }
    core.ChangeServers([](CServerTable& servers) {
        for (int s = 0; s < kServers; ++s) {
            auto record = std::make_unique<CServerData>();
            record->SetMAC(Mac(s));
            record->SetIPAddr("192.168.10." + std::to_string(s));
            record->SetSystemName("array-" + std::to_string(s));
            record->SetProduct("Vault 9000");
            record->SetType("SAN");
            record->m_bAuthorized = 1;
            record->m_bOnline = 1;
            record->SetAuthorizedIP("192.168.10." + std::to_string(s));
            record->m_strLoginUserName = u"admin";
            record->m_strLoginPasswd = u"array-password";
            servers.Add(U16(Mac(s)), std::move(record));
        }
    });
}

struct CRun {
    double rate = 0;        // queries per second
    double cpuPerQuery = 0; // processor microseconds per query, clients included
};

CRun Run(uint16_t port, double seconds) {
    const double cpuStart = bench::ProcessCpuSeconds();
    std::atomic<long> done{0};
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            int u = c;
            while (Clock::now() < end) {
                const std::string request =
                    svctest::QueryRequest("user" + std::to_string(u % kUsers) + ":password");
                done += svctest::RequestAndReset(port, request, true) ? 1 : 0;
                u += kClients;
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    constexpr double kMicros = 1e6;
    const double queries = static_cast<double>(std::max(done.load(), 1L));
    return {static_cast<double>(done.load()) / seconds,
            (bench::ProcessCpuSeconds() - cpuStart) * kMicros / queries};
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

// Processor microseconds per "/Query" record given to a trail alone (composed, queued, written
// and synced), one thread: the part of the cost that does not depend on the other load.
double CpuPerRecord(const std::filesystem::path& file) {
    constexpr int kRecords = 200000;
    std::string macs;
    std::string ips;
    for (int s = 0; s < kServersPerGroup; ++s) {
        macs += (s > 0 ? "," : "") + Mac(s);
        ips += (s > 0 ? ",192.168.10." : "192.168.10.") + std::to_string(s);
    }
    const double start = bench::ProcessCpuSeconds();
    {
        CAuditTrail trail(file);
        for (int r = 0; r < kRecords; ++r) {
            trail.Write(CAuditRecord("query", "service")
                            .Add("address", "127.0.0.1")
                            .Add("user", "user" + std::to_string(r % kUsers))
                            .AddBool("admin", false)
                            .Add("macs", macs)
                            .Add("ips", ips));
        }
        trail.Sync();
    }
    constexpr double kMicros = 1e6;
    return (bench::ProcessCpuSeconds() - start) * kMicros / kRecords;
}

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("audit-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::vector<double> without;
    std::vector<double> with;
    std::vector<double> cpuWithout;
    std::vector<double> cpuWith;
    uint64_t records = 0;
    for (int r = 0; r < runs; ++r) {
        for (const bool bAudit : {false, true}) {
            COrvaneSrvCore core(std::make_unique<CRegistryHive>(dir / "registry.db"));
            core.LoadDirectory();
            FillDirectory(core);
            if (bAudit) {
                core.SetAuditTrail(std::make_shared<CAuditTrail>(dir / "audit.log"));
            }
            CServiceOptions options;
            options.nPort = 0;
            options.nLogFd = -1;
            options.nLingerMs = 0;
            CCredentialService service;
            service.StartCredentialServer(core, options);
            const CRun run = Run(service.Port(), seconds);
            (bAudit ? with : without).push_back(run.rate);
            (bAudit ? cpuWith : cpuWithout).push_back(run.cpuPerQuery);
            service.StopCredentialServer();
            core.FreeTables();
        }
    }
    const double cpuRecord = CpuPerRecord(dir / "alone" / "audit.log");
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        if (entry.path().filename().string().starts_with("audit.log")) {
            records += static_cast<uint64_t>(std::filesystem::file_size(entry.path(), ec));
        }
    }
    std::filesystem::remove_all(dir, ec);
    const double a = Median(without);
    const double b = Median(with);
    const double cpuA = Median(cpuWithout);
    const double cpuB = Median(cpuWith);
    std::printf("\"/Query\", %d clients, %d runs of %.1f s (median)\n", kClients, runs, seconds);
    std::printf("%-22s %12s %14s\n", "", "queries/s", "cpu us/query");
    std::printf("%-22s %12.0f %14.1f\n", "without audit trail", a, cpuA);
    std::printf("%-22s %12.0f %14.1f\n", "with audit trail", b, cpuB);
    std::printf("cost: %.1f %% of the rate (target under 5 %%), %.1f %% more processor time per "
                "query; %llu bytes of records written\n",
                (a - b) / a * 100.0, (cpuB - cpuA) / cpuA * 100.0,
                static_cast<unsigned long long>(records));
    std::printf("a record given to the trail alone: %.2f cpu us, %.1f %% of a query's\n", cpuRecord,
                cpuRecord / cpuA * 100.0);
    return 0;
}
