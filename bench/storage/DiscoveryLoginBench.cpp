// Discovery and login benchmark in the namespace lab, with the program's parts without a window
// (orvane-headless-probe): for 200 and 1,000 simulated arrays, the time from the start of a pass
// to the last row in the server list and to the end of the pass, then the time to log in to
// every listed array at once. Run as root, from the build tree:
//
//     build/bin/discovery_login_bench            (a few minutes; prints a table)
//
// Each row builds a lab with tools/lab/orvane-lab.sh and runs the probe in its manager
// namespace; nothing runs outside those namespaces. Before the probe starts, the manager learns
// every array's link address as a permanent neighbour entry (LabNeighbours.h).
#include "bench/storage/LabNeighbours.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct CRow {
    int nArrays;
    const char* schedule;
    const char* config;
};

struct CFigures {
    int rows = -1;
    double lastRowMs = 0;
    double passMs = 0;
    int yes = 0;
    double loginMs = 0;
};

// Reads the probe's "PASS", "ROW" and "LOGINS" lines.
CFigures Parse(FILE* pipe) {
    CFigures figures;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        const std::string text = line;
        if (text.rfind("PASS ", 0) == 0) {
            std::sscanf(line, "PASS rows=%d ms=%lf last-row-ms=%lf", &figures.rows, &figures.passMs,
                        &figures.lastRowMs);
        } else if (text.rfind("ROW ", 0) == 0 && text.find("|Yes") != std::string::npos) {
            ++figures.yes;
        } else if (text.rfind("LOGINS ", 0) == 0) {
            std::sscanf(line, "LOGINS ms=%lf", &figures.loginMs);
        }
    }
    return figures;
}

} // namespace

int main() {
    if (::geteuid() != 0) {
        std::cerr << "discovery_login_bench: needs root to build the namespace lab\n";
        return 2;
    }
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("loginbench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "probe") << "pass\nlogin admin secret all\nwait-logins\nrows\n";
    std::ofstream(dir / "run.sh") << kPermanentNeighboursScript << "exec \"$1\" \"$2\"\n";
    const std::vector<CRow> rows = {
        {200, "default", ""},
        {1000, "default", ""},
        {200, "short",
         "net.slp.multicastTimeouts = 250,250,250,250\nnet.slp.multicastMaximumWait = 1000\n"},
        {1000, "short",
         "net.slp.multicastTimeouts = 250,250,250,250\nnet.slp.multicastMaximumWait = 1000\n"},
    };
    std::printf("%-7s %-8s %6s %14s %13s %6s %15s\n", "arrays", "schedule", "rows", "last row (ms)",
                "pass (ms)", "yes", "login all (ms)");
    int status = 0;
    for (const CRow& row : rows) {
        std::ofstream(dir / "slp.conf") << row.config;
        {
            std::ofstream extra(dir / "extra");
            for (int i = 0; i < row.nArrays; ++i) {
                extra << "--admin-password secret\n";
            }
        }
        const std::string command =
            "OpenSLPConfig='" + (dir / "slp.conf").string() + "' " + ORVANE_SOURCE_DIR +
            "/tools/lab/orvane-lab.sh --bin " + ORVANE_BIN_DIR + " --arrays " +
            std::to_string(row.nArrays) + " --per-ns 10 --extra '" + (dir / "extra").string() +
            "' -- sh '" + (dir / "run.sh").string() + "' " + ORVANE_BIN_DIR +
            "/orvane-headless-probe '" + (dir / "probe").string() + "' 2>/dev/null";
        FILE* pipe = ::popen(command.c_str(), "r");
        const CFigures figures = pipe != nullptr ? Parse(pipe) : CFigures{};
        const int rc = pipe != nullptr ? ::pclose(pipe) : -1;
        if (rc != 0 || figures.rows < 0) {
            std::printf("%-7d %-8s failed\n", row.nArrays, row.schedule);
            status = 1;
            continue;
        }
        std::printf("%-7d %-8s %6d %14.0f %13.0f %6d %15.0f\n", row.nArrays, row.schedule,
                    figures.rows, figures.lastRowMs, figures.passMs, figures.yes, figures.loginMs);
        std::fflush(stdout);
    }
    std::filesystem::remove_all(dir);
    return status;
}
