// Discovery benchmark in the namespace lab: how long until SLPFindSrvs has delivered every URL
// and until every SLPFindAttrs has returned, made as the program's discovery pass makes them
// (after the search, 16 at a time, each worker on a handle of its own, with the program's own
// SLP defaults): 100, 500 and 1,000 simulated arrays found by multicast alone, with the default
// multicast schedule and with a shortened one, and 10,000 arrays registered with a directory
// agent (the simulator's test double) that the settings name. Each row is printed beside its
// target.
// Run as root, from the build tree:
//
//     build/bin/slp_discovery_bench            (two to three minutes; prints a table)
//
// It builds one lab per row with tools/lab/orvane-lab.sh and runs itself with --measure in
// the lab's manager namespace; nothing runs outside those namespaces.
#include "platform/slp/slp.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Measure {
    Clock::time_point start;
    std::vector<std::string> urls;
    std::size_t attrs = 0;
    double lastUrlMs = 0;
    double lastAttrMs = 0;
};

double Since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

constexpr std::size_t kQueriesAtOnce = 16;

SLPBoolean OnAttrs(SLPHandle, const char*, SLPError error, void* cookie) {
    if (error == SLP_OK) {
        ++*static_cast<std::atomic<std::size_t>*>(cookie);
    }
    return SLP_FALSE;
}

SLPBoolean OnUrl(SLPHandle, const char* url, unsigned short, SLPError error, void* cookie) {
    auto* measure = static_cast<Measure*>(cookie);
    if (error == SLP_OK) {
        measure->urls.emplace_back(url);
        measure->lastUrlMs = Since(measure->start);
    }
    return SLP_TRUE;
}

void AskAll(Measure& measure) {
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> attrs{0};
    std::vector<std::thread> workers;
    for (std::size_t i = 0; i < std::min(kQueriesAtOnce, measure.urls.size()); ++i) {
        workers.emplace_back([&] {
            SLPHandle handle = nullptr;
            if (SLPOpen(nullptr, SLP_FALSE, &handle) != SLP_OK) {
                return;
            }
            for (std::size_t at = next++; at < measure.urls.size(); at = next++) {
                SLPFindAttrs(handle, measure.urls[at].c_str(), "default", "", OnAttrs, &attrs);
            }
            SLPClose(handle);
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    measure.attrs = attrs;
    measure.lastAttrMs = Since(measure.start);
}

int RunMeasure() {
    // The defaults the program sets for itself.
    SLPSetPropertyDefault("net.slp.activeDADetection", "false");
    SLPSetPropertyDefault("orvane.slp.attributesFromUrlHost", "true");
    SLPSetPropertyDefault("net.slp.unicastMaximumWait", "3000");
    SLPHandle handle = nullptr;
    if (SLPOpen(nullptr, SLP_FALSE, &handle) != SLP_OK) {
        return 1;
    }
    Measure measure;
    measure.start = Clock::now();
    SLPError result = SLPFindSrvs(handle, "service:raid.004417", "default", "", OnUrl, &measure);
    AskAll(measure);
    double totalMs = Since(measure.start);
    SLPClose(handle);
    std::printf("%zu %zu %.0f %.0f %.0f %d\n", measure.urls.size(), measure.attrs,
                measure.lastUrlMs, measure.lastAttrMs, totalMs, result);
    return result == SLP_OK ? 0 : 1;
}

struct Row {
    int arrays;
    int perNamespace;
    bool directoryAgent;
    const char* schedule;
    const char* config;
};

constexpr const char* kShort = "net.slp.multicastTimeouts = 250,250,250,250\n"
                               "net.slp.multicastMaximumWait = 1000\n";
constexpr const char* kNoAgents = "net.slp.activeDADetection = false\n";
constexpr const char* kLabAgent = "net.slp.DAAddresses = 10.77.0.2\n";
constexpr double kDirectoryTargetMs = 5000;

// Before measuring a fleet with a directory agent, wait (bounded) until every array has
// registered, asking the agent only.
std::string WaitForRegistrations(const std::filesystem::path& dir, int arrays) {
    const std::string conf = (dir / "da.conf").string();
    return "printf 'net.slp.DAAddresses = %s\\nnet.slp.activeDADetection = false\\n' "
           "\"$LAB_DA_ADDR\" >'" +
           conf + "'; for i in $(seq 120); do n=$(OpenSLPConfig='" + conf + "' '" + ORVANE_BIN_DIR +
           "/orvane-slpfind' findsrvs service:raid.004417 | wc -l); [ \"$n\" -ge " +
           std::to_string(arrays) + " ] && break; sleep 0.5; done; ";
}

std::string Target(const Row& row, std::size_t urls, std::size_t attrs, double totalMs) {
    const bool all = urls == static_cast<std::size_t>(row.arrays) && attrs == urls;
    if (row.directoryAgent) {
        return std::string("all in 5000 ms: ") +
               (all && totalMs <= kDirectoryTargetMs ? "met" : "MISSED");
    }
    return std::string("all listed: ") + (all ? "met" : "MISSED");
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--measure") {
        return RunMeasure();
    }
    if (::geteuid() != 0) {
        std::cerr << "slp_discovery_bench: needs root to build the namespace lab\n";
        return 2;
    }
    std::string self = std::filesystem::canonical("/proc/self/exe");
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("slpbench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::vector<Row> rows = {
        {100, 10, false, "default", ""},   {500, 50, false, "default", ""},
        {100, 10, false, "short", kShort}, {500, 50, false, "short", kShort},
        {1000, 100, false, "default", ""}, {1000, 100, false, "short", kShort},
        {10000, 1000, true, "agent", ""},
    };
    std::printf("%-7s %-8s %6s %6s %14s %15s %12s  %s\n", "arrays", "found by", "urls", "attrs",
                "last URL (ms)", "last attrs (ms)", "search (ms)", "target");
    int status = 0;
    for (const Row& row : rows) {
        // Multicast rows leave directory agents out, the agent row names its agent.
        std::ofstream(dir / "slp.conf")
            << row.config << (row.directoryAgent ? kLabAgent : kNoAgents);
        std::ofstream(dir / "run.sh")
            << (row.directoryAgent ? WaitForRegistrations(dir, row.arrays) : "") << "'" << self
            << "' --measure\n";
        std::string command =
            "OpenSLPConfig='" + (dir / "slp.conf").string() + "' " + ORVANE_SOURCE_DIR +
            "/tools/lab/orvane-lab.sh --bin " + ORVANE_BIN_DIR + " --arrays " +
            std::to_string(row.arrays) + " --per-ns " + std::to_string(row.perNamespace) +
            (row.directoryAgent ? " --da" : "") + " -- sh '" + (dir / "run.sh").string() + "'";
        FILE* pipe = ::popen(command.c_str(), "r");
        char line[256] = {};
        bool got = pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr;
        int rc = pipe != nullptr ? ::pclose(pipe) : -1;
        std::size_t urls = 0;
        std::size_t attrs = 0;
        double lastUrl = 0;
        double lastAttr = 0;
        double total = 0;
        int result = 0;
        if (!got || rc != 0 ||
            std::sscanf(line, "%zu %zu %lf %lf %lf %d", &urls, &attrs, &lastUrl, &lastAttr, &total,
                        &result) != 6) {
            std::printf("%-7d %-8s failed (%s)\n", row.arrays, row.schedule, line);
            status = 1;
            continue;
        }
        std::printf("%-7d %-8s %6zu %6zu %14.0f %15.0f %12.0f  %s\n", row.arrays, row.schedule,
                    urls, attrs, lastUrl, lastAttr, total, Target(row, urls, attrs, total).c_str());
        std::fflush(stdout);
    }
    std::filesystem::remove_all(dir);
    return status;
}
