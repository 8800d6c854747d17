// A restart with 10,000 remembered authorizations beside the same fleet logged in to anew. For
// 10,000 arrays behind an in-memory directory agent, all answering logins on loopback:
//   A: the core started over a sealed file of 10,000 authorizations (a key file; a passphrase,
//      timed from its unseal), until "/Query" of a user whose group reaches all of them lists
//      them all, with the process's VmRSS and VmHWM at that point;
//   B: the core without remembering: a first discovery pass, then a login to every array as
//      "orvanectl login --all" sends it through CLoginClient on the core's pool, until "/Query"
//      lists them all.
// The sealed files are made by a first run of each kind. Every phase is a process of its own
// (this program again), so that each one's memory is its own; the login responder stays here.
//
// Usage, in a private network namespace with only lo, up (it refuses to run elsewhere):
//     unshare -n sh -c 'ip link set lo up && build/bin/seal_restart_bench [arrays] [runs]'
// arrays defaults to 10,000, runs to 1; with several runs each column shows its slowest.
#include "bench/seal/CFleetRun.h"
#include "bench/seal/CLoginResponder.h"
#include "core/seal/SealKeyFile.h"
#include "platform/io/CUniqueFd.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <net/if.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <vector>

namespace {

constexpr int kDefaultArrays = 10000;
constexpr int kResponderThreads = 4;
constexpr double kTargetSeconds = 15;
constexpr double kTargetMegabytes = 200;
constexpr double kMsPerSecond = 1000;
constexpr std::string_view kPhaseFlag = "--phase";
constexpr std::string_view kFigurePrefix = "FIGURE ";

using CFigureMap = std::map<std::string, double>;

// Only lo, and up: nothing this program sends can leave the machine. Read from the kernel for
// this namespace (sysfs may still show the host's links).
bool InPrivateNetwork() {
    struct if_nameindex* links = ::if_nameindex();
    if (links == nullptr) {
        return false;
    }
    bool bOnlyLo = true;
    for (const struct if_nameindex* link = links; link->if_index != 0; ++link) {
        bOnlyLo = bOnlyLo && std::string_view(link->if_name) == "lo";
    }
    ::if_freenameindex(links);
    ifreq request{};
    std::snprintf(request.ifr_name, sizeof request.ifr_name, "lo");
    const CUniqueFd probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    return bOnlyLo && probe && ::ioctl(probe.Get(), SIOCGIFFLAGS, &request) == 0 &&
           (request.ifr_flags & IFF_UP) != 0;
}

std::string_view SealName(EFleetSeal seal) {
    switch (seal) {
    case EFleetSeal::KeyFile:
        return "keyfile";
    case EFleetSeal::Passphrase:
        return "passphrase";
    case EFleetSeal::None:
        break;
    }
    return "none";
}

std::optional<EFleetSeal> SealOf(std::string_view name) {
    for (const EFleetSeal seal : {EFleetSeal::KeyFile, EFleetSeal::Passphrase, EFleetSeal::None}) {
        if (SealName(seal) == name) {
            return seal;
        }
    }
    return std::nullopt;
}

// A phase in this process: --phase make|restart|login SEAL FOLDER PORT ARRAYS [KEYFILE].
int RunPhase(int argc, char** argv) {
    constexpr int kArgs = 7;
    const std::optional<EFleetSeal> seal = argc >= kArgs ? SealOf(argv[3]) : std::nullopt;
    if (!seal) {
        std::fprintf(stderr, "bad phase arguments\n");
        return 2;
    }
    const std::string_view phase = argv[2];
    CFleetRun::CSettings settings{argv[4], argc > kArgs ? argv[kArgs] : "", *seal,
                                  std::atoi(argv[6]), static_cast<uint16_t>(std::atoi(argv[5]))};
    CFleetRun::CFigures figures;
    bool bDone = false;
    {
        CFleetRun run(settings);
        bDone = phase == "make"      ? run.Make(figures)
                : phase == "restart" ? run.Restart(figures)
                                     : run.LoginAll(figures);
    }
    for (const auto& [name, value] : figures) {
        std::printf("%.*s%s %.3f\n", static_cast<int>(kFigurePrefix.size()), kFigurePrefix.data(),
                    name.c_str(), value);
    }
    return bDone ? 0 : 1;
}

struct CPhase {
    std::string_view name;
    EFleetSeal eSeal;
    std::filesystem::path folder;
};

struct CContext {
    std::filesystem::path self;
    std::filesystem::path keyFile;
    uint16_t nPort = 0;
    int nArrays = 0;
};

// Runs a phase as a child of this program and reads back its figures; none when it failed.
std::optional<CFigureMap> Child(const CContext& context, const CPhase& phase) {
    const std::string command =
        "'" + context.self.string() + "' " + std::string(kPhaseFlag) + " " +
        std::string(phase.name) + " " + std::string(SealName(phase.eSeal)) + " '" +
        phase.folder.string() + "' " + std::to_string(context.nPort) + " " +
        std::to_string(context.nArrays) + " '" + context.keyFile.string() + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return std::nullopt;
    }
    CFigureMap figures;
    char line[256];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        const std::string_view text = line;
        if (text.starts_with(kFigurePrefix)) {
            char name[128];
            double value = 0;
            if (std::sscanf(line + kFigurePrefix.size(), "%127s %lf", name, &value) == 2) {
                figures[name] = value;
            }
        }
    }
    const int status = ::pclose(pipe);
    if (status != 0) {
        std::fprintf(stderr, "the %.*s phase (%.*s) failed\n", static_cast<int>(phase.name.size()),
                     phase.name.data(), static_cast<int>(SealName(phase.eSeal).size()),
                     SealName(phase.eSeal).data());
        return std::nullopt;
    }
    return figures;
}

std::string Cell(const CFigureMap& figures, const std::string& name) {
    const auto found = figures.find(name);
    if (found == figures.end()) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", found->second);
    return text;
}

void PrintTable(const std::vector<std::pair<std::string, CFigureMap>>& columns) {
    static const std::pair<const char*, const char*> kRows[] = {
        {"start-up returned, ms", "started_ms"},
        {"unseal (scrypt, open), ms", "unseal_ms"},
        {"first pass ended, ms", "pass_ended_ms"},
        {"  the pass's length, ms", "pass_length_ms"},
        {"login --all targets chosen, ms", "chosen_ms"},
        {"every login ended, ms", "logged_in_ms"},
        {"every remembered one settled, ms", "verified_ms"},
        {"/Query lists all, ms", "listed_ms"},
        {"arrays listed", "listed"},
        {"dropped or failed", "dropped"},
        {"VmRSS at the end, MB", "rss_mb"},
        {"VmHWM at the end, MB", "hwm_mb"},
        {"processor time until then, ms", "cpu_ms"},
        {"stop with the last write, ms", "stop_ms"},
    };
    std::printf("%-34s", "");
    for (const auto& [name, figures] : columns) {
        std::printf(" %16s", name.c_str());
    }
    std::printf("\n");
    for (const auto& [label, key] : kRows) {
        std::printf("%-34s", label);
        for (const auto& [name, figures] : columns) {
            std::string cell = Cell(figures, key);
            if (cell == "-" && std::string_view(key) == "dropped") {
                cell = Cell(figures, "failed");
            }
            std::printf(" %16s", cell.c_str());
        }
        std::printf("\n");
    }
}

void PrintTargets(const std::vector<std::pair<std::string, CFigureMap>>& columns) {
    std::printf("\ntargets\n");
    for (const auto& [name, figures] : columns) {
        const auto listed = figures.find("listed_ms");
        const auto hwm = figures.find("hwm_mb");
        const double seconds = listed == figures.end() ? -1 : listed->second / kMsPerSecond;
        const double megabytes = hwm == figures.end() ? -1 : hwm->second;
        const bool bRemembers = name.starts_with("A");
        std::printf("  %-16s all listed after %6.2f s (target <= %.0f s%s)   VmHWM %6.1f MB "
                    "(target < %.0f MB%s)\n",
                    name.c_str(), seconds, kTargetSeconds,
                    !bRemembers                                 ? ", for A"
                    : seconds >= 0 && seconds <= kTargetSeconds ? ": met"
                                                                : ": MISSED",
                    megabytes, kTargetMegabytes,
                    !bRemembers                                      ? ", for A"
                    : megabytes >= 0 && megabytes < kTargetMegabytes ? ": met"
                                                                     : ": MISSED");
    }
}

// Keeps, of several runs, the one that listed every array last (or failed).
void KeepSlowest(CFigureMap& kept, const std::optional<CFigureMap>& run) {
    const auto listedMs = [](const CFigureMap& figures) {
        const auto found = figures.find("listed_ms");
        return found == figures.end() ? 1e18 : found->second;
    };
    const CFigureMap failed{{"listed", 0}};
    const CFigureMap& figures = run ? *run : failed;
    if (kept.empty() || listedMs(figures) > listedMs(kept)) {
        kept = figures;
    }
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    if (argc > 1 && argv[1] == kPhaseFlag) {
        return RunPhase(argc, argv);
    }
    if (!InPrivateNetwork()) {
        std::fprintf(stderr,
                     "seal_restart_bench runs only in a network namespace of its own with "
                     "lo up:\n  unshare -n sh -c 'ip link set lo up && %s'\n",
                     argv[0]);
        return 2;
    }
    CContext context;
    context.nArrays = argc > 1 ? std::atoi(argv[1]) : kDefaultArrays;
    const int nRuns = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    context.self = std::filesystem::read_symlink("/proc/self/exe");
    CArrayConfig array;
    array.m_strAdminPassword = CFleetRun::kAdminPassword;
    CLoginResponder responder(array, kResponderThreads);
    context.nPort = responder.Port();
    char folderTemplate[] = "/tmp/orvane-sealbench-XXXXXX";
    if (context.nPort == 0 || ::mkdtemp(folderTemplate) == nullptr) {
        std::fprintf(stderr, "no login responder or no work folder\n");
        return 1;
    }
    const std::filesystem::path work = folderTemplate;
    for (const char* folder : {"keyfile", "passphrase", "none", "key"}) {
        std::filesystem::create_directory(work / folder);
        std::filesystem::permissions(work / folder, std::filesystem::perms::owner_all);
    }
    context.keyFile = work / "key" / "seal.key";
    if (const std::string error = CreateSealKeyFile(context.keyFile); !error.empty()) {
        std::fprintf(stderr, "key file: %s\n", error.c_str());
        return 1;
    }
    const CPhase kinds[] = {{"", EFleetSeal::KeyFile, work / "keyfile"},
                            {"", EFleetSeal::Passphrase, work / "passphrase"},
                            {"", EFleetSeal::None, work / "none"}};
    std::printf("%d arrays; the first runs:\n", context.nArrays);
    for (CPhase phase : kinds) {
        phase.name = "make";
        const std::optional<CFigureMap> made = Child(context, phase);
        if (!made) {
            std::filesystem::remove_all(work);
            return 1;
        }
        std::printf("  %-10s directory and authorizations filled in %s ms, seal --with %s ms, "
                    "stop %s ms, sealed file %s KB\n",
                    SealName(phase.eSeal).data(), Cell(*made, "fill_ms").c_str(),
                    Cell(*made, "seal_with_ms").c_str(), Cell(*made, "stop_ms").c_str(),
                    Cell(*made, "sealed_kb").c_str());
    }
    std::vector<std::pair<std::string, CFigureMap>> columns = {
        {"A key file", {}}, {"A passphrase", {}}, {"B login --all", {}}};
    std::vector<std::string> runTimes(columns.size());
    for (int run = 0; run < nRuns; ++run) {
        for (std::size_t i = 0; i < columns.size(); ++i) {
            CPhase phase = kinds[i];
            phase.name = phase.eSeal == EFleetSeal::None ? "login" : "restart";
            const std::optional<CFigureMap> figures = Child(context, phase);
            runTimes[i] += " " + (figures ? Cell(*figures, "listed_ms") : std::string("failed"));
            KeepSlowest(columns[i].second, figures);
        }
    }
    std::printf("\n");
    PrintTable(columns);
    PrintTargets(columns);
    if (nRuns > 1) {
        std::printf("every run, ms until all are listed:\n");
        for (std::size_t i = 0; i < columns.size(); ++i) {
            std::printf("  %-16s%s\n", columns[i].first.c_str(), runTimes[i].c_str());
        }
    }
    std::printf("(A with a passphrase is timed from the unseal, right after start-up; the others "
                "from start-up. %zu logins answered on loopback.)\n",
                responder.Answered());
    std::filesystem::remove_all(work);
    return 0;
}
