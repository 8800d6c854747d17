// The console with the fleet behind it, in the namespace lab: the real main window (offscreen,
// real SLP, real login client) runs its first discovery pass over 200 and 1,000 simulated arrays
// found by multicast, and over 10,000 arrays registered with a directory agent (the simulator's
// test double). Per row: the time from the start of the pass to the last row in the System tab
// and to the pass's end, the window thread's longest stall meanwhile (the longest gap between
// ticks of a 5 ms timer), the process's resident memory (VmRSS, and its peak VmHWM), and for the
// multicast fleets the time to log in to every array at once through the Login button, with the
// longest stall while those logins run. A last row logs in to 2,000 arrays (found through the
// agent) of which 500 accept the connection and never answer: from the press to the last Auth
// cell that leaves "Logging", with the longest stall and when it began, at the login's own
// timeouts (the pool of 32 logins waits out each silent array's request timeout), then the
// longest stall over 35 s without logins for comparison. Each figure is printed beside its
// target. Run as root, from the build tree:
//
//     build/bin/console_discovery_bench            (about fifteen minutes; prints a table)
//     build/bin/console_discovery_bench 2000       (the login row alone)
//
// Each row builds a lab with tools/lab/orvane-lab.sh and runs this program with --measure in the
// lab's manager namespace; nothing runs outside those namespaces. Multicast rows first give the
// manager every array's link address as a permanent neighbour entry (LabNeighbours.h); the agent
// row first waits
// until every array has registered, and names the agent in net.slp.DAAddresses so that the
// window's first pass asks it.
#include "bench/storage/LabNeighbours.h"
#include "console/CLoginDlg.h"
#include "console/COrvaneSrvDlg.h"
#include "console/ConsoleLook.h"
#include "platform/ui/CListCtrl.h"
#include "resources/ResourceIds.h"

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kTickPeriod = 5ms;
constexpr auto kCheckPeriod = 20ms;
constexpr auto kPassLimit = 120s;
// Bounds only: 500 silent arrays take 500 request timeouts of 30 s shared by 32 logins.
constexpr auto kLoginLimit = 900s;
constexpr auto kIdleSpan = 35s;
constexpr double kAgentLastRowTargetMs = 5000;
constexpr double kStallTargetMs = 50;
constexpr long kMemoryTargetKb = 200 * 1024;

double MsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// A field of /proc/self/status in kB ("VmRSS", "VmHWM").
long StatusKb(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::atol(line.c_str() + field.size() + 1);
        }
    }
    return -1;
}

// The longest gap between ticks of a short timer on the window thread, since the last Reset.
class CStallMeter {
public:
    CStallMeter() {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            if (const double gap = MsBetween(m_last, now); gap > m_maxMs) {
                m_maxMs = gap;
                m_maxAtMs = MsBetween(m_start, m_last);
            }
            m_last = now;
        });
    }
    void Start() {
        Reset();
        m_timer.start(kTickPeriod);
    }
    void Reset() {
        m_last = Clock::now();
        m_start = m_last;
        m_maxMs = 0;
        m_maxAtMs = 0;
    }
    double MaxMs() const { return m_maxMs; }
    // When the longest stall began, from the last Reset.
    double MaxAtMs() const { return m_maxAtMs; }

private:
    QTimer m_timer;
    Clock::time_point m_last;
    Clock::time_point m_start;
    double m_maxMs = 0;
    double m_maxAtMs = 0;
};

// Runs the window thread's event loop until done() (checked every 20 ms) or the limit.
bool RunLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QEventLoop loop;
    QTimer check;
    const auto deadline = Clock::now() + limit;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done() || Clock::now() >= deadline) {
            loop.quit();
        }
    });
    check.start(kCheckPeriod);
    loop.exec();
    return done();
}

// Fills in the Login Dialog once it is up, and closes it with OK.
void AnswerLoginDialog(const QString& password) {
    QTimer::singleShot(1, [password] {
        auto* dialog = qobject_cast<CLoginDlg*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            AnswerLoginDialog(password);
            return;
        }
        qobject_cast<QLineEdit*>(dialog->GetDlgItem(IDC_ADMIN_PASSWORD))->setText(password);
        qobject_cast<QPushButton*>(dialog->GetDlgItem(CDialog::IDOK))->click();
    });
}

int RunMeasure(int argc, char** argv, bool bLogin) {
    QApplication application(argc, argv);
    ApplyConsoleLook(application);
    // A folder of its own: opening a store narrows its folder to the owner.
    char folder[] = "/tmp/orvane-console-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        return 1;
    }
    const std::filesystem::path store = std::filesystem::path(folder) / "registry.db";
    COrvaneSrvApp app({});
    int boxes = 0;
    double lastRowMs = 0;
    double passMs = 0;
    double passStall = 0;
    double createMs = 0;
    std::size_t rows = 0;
    {
        COrvaneSrvDlg dialog(app, std::make_unique<CRegistryHive>(store));
        dialog.MessageBoxes()->SetAnswerer([&boxes](const CMessageBoxRequest& box) {
            ++boxes;
            return std::optional(CQtMessageBoxes::DefaultAnswer(box.buttons));
        });
        CStallMeter stalls;
        const auto start = Clock::now();
        Clock::time_point lastRow = start;
        dialog.Create(); // the first pass starts here
        createMs = MsBetween(start, Clock::now());
        dialog.show();
        CTabSystem& tab = *dialog.TabSystem();
        QObject::connect(tab.List().model(), &QAbstractItemModel::rowsInserted,
                         [&lastRow] { lastRow = Clock::now(); });
        // Refresh stays disabled until the running pass has been swept.
        tab.OnRefresh();
        stalls.Start();
        RunLoopUntil([&tab] { return tab.IsRefreshEnabled(); }, kPassLimit);
        const auto end = Clock::now();
        passStall = stalls.MaxMs();
        lastRowMs = MsBetween(start, lastRow);
        passMs = MsBetween(start, end);
        rows = tab.RowCount();
        std::printf("PASS rows=%zu create-ms=%.0f last-row-ms=%.0f pass-ms=%.0f stall-ms=%.1f "
                    "rss-kb=%ld hwm-kb=%ld\n",
                    rows, createMs, lastRowMs, passMs, passStall, StatusKb("VmRSS"),
                    StatusKb("VmHWM"));
        std::fflush(stdout);
        if (bLogin && rows != 0) {
            tab.List().selectAll();
            AnswerLoginDialog(QStringLiteral("secret"));
            stalls.Reset();
            const auto loginStart = Clock::now();
            tab.OnLogin();
            const double callMs = MsBetween(loginStart, Clock::now());
            auto ended = [&tab] {
                for (std::size_t row = 0; row < tab.RowCount(); ++row) {
                    if (tab.CellText(row, EServerColumn::Auth) == u"Logging") {
                        return false;
                    }
                }
                return true;
            };
            RunLoopUntil(ended, kLoginLimit);
            const double loginMs = MsBetween(loginStart, Clock::now());
            std::size_t yes = 0;
            for (std::size_t row = 0; row < tab.RowCount(); ++row) {
                yes += tab.CellText(row, EServerColumn::Auth) == u"Yes" ? 1 : 0;
            }
            std::printf("LOGINS yes=%zu ms=%.0f stall-ms=%.1f boxes=%d hwm-kb=%ld call-ms=%.1f "
                        "stall-at-ms=%.0f\n",
                        yes, loginMs, stalls.MaxMs(), boxes, StatusKb("VmHWM"), callMs,
                        stalls.MaxAtMs());
            // For comparison: the same window with no login under way, over a span that holds
            // one timer pass (every 30 s) and whatever else the machine runs meanwhile.
            stalls.Reset();
            RunLoopUntil([] { return false; }, kIdleSpan);
            std::printf("IDLE stall-ms=%.1f\n", stalls.MaxMs());
        }
        dialog.DestroyWindow();
    }
    std::filesystem::remove_all(folder);
    std::fflush(stdout);
    return 0;
}

struct CRow {
    int nArrays;
    int nPerNamespace;
    bool bAgent;
    bool bLogin;
    int nSilent = 0; // arrays that accept the login's connection and never answer
};

struct CFigures {
    int rows = -1;
    double createMs = 0, lastRowMs = 0, passMs = 0, stallMs = 0;
    long rssKb = 0, hwmKb = 0;
    int loginYes = -1;
    double loginMs = 0, loginStallMs = 0, loginStallAtMs = 0, idleStallMs = -1;
    int boxes = 0;
    long loginHwmKb = 0;
    double loginCallMs = 0;
};

CFigures Parse(FILE* pipe) {
    CFigures f;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        const std::string text = line;
        if (text.rfind("PASS ", 0) == 0) {
            std::sscanf(line,
                        "PASS rows=%d create-ms=%lf last-row-ms=%lf pass-ms=%lf stall-ms=%lf "
                        "rss-kb=%ld hwm-kb=%ld",
                        &f.rows, &f.createMs, &f.lastRowMs, &f.passMs, &f.stallMs, &f.rssKb,
                        &f.hwmKb);
        } else if (text.rfind("LOGINS ", 0) == 0) {
            std::sscanf(line,
                        "LOGINS yes=%d ms=%lf stall-ms=%lf boxes=%d hwm-kb=%ld call-ms=%lf "
                        "stall-at-ms=%lf",
                        &f.loginYes, &f.loginMs, &f.loginStallMs, &f.boxes, &f.loginHwmKb,
                        &f.loginCallMs, &f.loginStallAtMs);
        } else if (text.rfind("IDLE ", 0) == 0) {
            std::sscanf(line, "IDLE stall-ms=%lf", &f.idleStallMs);
        }
    }
    return f;
}

const char* Verdict(bool bMet) {
    return bMet ? "met" : "MISSED";
}

// The script run in the manager namespace before the measurement.
std::string Preparation(const CRow& row, const std::filesystem::path& dir) {
    if (row.bAgent) {
        const std::string conf = (dir / "da-only.conf").string();
        return "printf 'net.slp.DAAddresses = %s\\nnet.slp.activeDADetection = false\\n' "
               "\"$LAB_DA_ADDR\" >'" +
               conf + "'\nfor i in $(seq 240); do\n    n=$(OpenSLPConfig='" + conf + "' '" +
               ORVANE_BIN_DIR +
               "/orvane-slpfind' findsrvs service:raid.004417 | wc -l)\n    [ \"$n\" -ge " +
               std::to_string(row.nArrays) + " ] && break\n    sleep 0.5\ndone\n";
    }
    return kPermanentNeighboursScript;
}

void PrintRow(const CRow& row, const CFigures& f) {
    const bool bAll = f.rows == row.nArrays;
    std::printf("%-6d %-9s %5d %7.0f %9.0f %8.0f %9.1f %8.1f %8.1f", row.nArrays,
                row.bAgent ? "agent" : "multicast", f.rows, f.createMs, f.lastRowMs, f.passMs,
                f.stallMs, f.rssKb / 1024.0, f.hwmKb / 1024.0);
    std::string targets = std::string("all rows: ") + Verdict(bAll);
    if (row.bAgent) {
        targets += std::string(", last row <= 5000 ms: ") +
                   Verdict(bAll && f.lastRowMs <= kAgentLastRowTargetMs);
        targets += std::string(", HWM < 200 MB: ") + Verdict(f.hwmKb < kMemoryTargetKb);
    }
    targets += std::string(", stall < 50 ms: ") + Verdict(f.stallMs < kStallTargetMs);
    std::printf("  %s\n", targets.c_str());
    if (f.loginYes >= 0) {
        const int expectedYes = row.nArrays - row.nSilent;
        std::printf("       logins (%d silent): %d of %d Yes in %.0f ms from the press to the last "
                    "cell (the Login button's handler, dialog included: %.1f ms), longest stall "
                    "%.1f ms (%s) %.0f ms after the press, %d boxes, HWM %.1f MB\n",
                    row.nSilent, f.loginYes, expectedYes, f.loginMs, f.loginCallMs, f.loginStallMs,
                    Verdict(f.loginStallMs < kStallTargetMs), f.loginStallAtMs, f.boxes,
                    f.loginHwmKb / 1024.0);
        std::printf(
            "       then 35 s without logins (a timer pass included): longest stall %.1f ms\n",
            f.idleStallMs);
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--measure") {
        const bool bLogin = argc > 2 && std::string(argv[2]) == "login";
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return RunMeasure(argc, argv, bLogin);
    }
    if (::geteuid() != 0) {
        std::cerr << "console_discovery_bench: needs root to build the namespace lab\n";
        return 2;
    }
    const std::string self = std::filesystem::canonical("/proc/self/exe");
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("consolebench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::vector<CRow> rows = {{200, 10, false, true},
                              {1000, 100, false, true},
                              {10000, 1000, true, false},
                              {2000, 500, true, true, 500}};
    if (argc > 1) { // one fleet size only
        const int only = std::atoi(argv[1]);
        std::erase_if(rows, [only](const CRow& row) { return row.nArrays != only; });
    }
    std::printf("%-6s %-9s %5s %7s %9s %8s %9s %8s %8s  %s\n", "arrays", "found by", "rows",
                "create", "last row", "pass", "stall", "RSS", "HWM", "targets");
    std::printf("%-6s %-9s %5s %7s %9s %8s %9s %8s %8s\n", "", "", "", "(ms)", "(ms)", "(ms)",
                "(ms)", "(MB)", "(MB)");
    int status = 0;
    for (const CRow& row : rows) {
        std::ofstream(dir / "slp.conf") << (row.bAgent ? "net.slp.DAAddresses = 10.77.0.2\n"
                                                       : "net.slp.activeDADetection = false\n");
        {
            std::ofstream extra(dir / "extra");
            // Every fourth array silent, so that they are spread over the list.
            constexpr int kSilentEvery = 4;
            for (int i = 0; i < row.nArrays && row.bLogin; ++i) {
                const bool bSilent = i % kSilentEvery == 0 && i / kSilentEvery < row.nSilent;
                extra << "--admin-password secret" << (bSilent ? " --http-mode silent" : "")
                      << "\n";
            }
        }
        std::ofstream(dir / "run.sh") << Preparation(row, dir) << "exec '" << self << "' --measure "
                                      << (row.bLogin ? "login" : "") << "\n";
        const std::string command =
            "OpenSLPConfig='" + (dir / "slp.conf").string() + "' " + ORVANE_SOURCE_DIR +
            "/tools/lab/orvane-lab.sh --bin " + ORVANE_BIN_DIR + " --arrays " +
            std::to_string(row.nArrays) + " --per-ns " + std::to_string(row.nPerNamespace) +
            (row.bAgent ? " --da" : "") + " --extra '" + (dir / "extra").string() + "' -- sh '" +
            (dir / "run.sh").string() + "' 2>/dev/null";
        FILE* pipe = ::popen(command.c_str(), "r");
        const CFigures figures = pipe != nullptr ? Parse(pipe) : CFigures{};
        const int rc = pipe != nullptr ? ::pclose(pipe) : -1;
        if (rc != 0 || figures.rows < 0) {
            std::printf("%-6d failed\n", row.nArrays);
            status = 1;
            continue;
        }
        PrintRow(row, figures);
    }
    std::filesystem::remove_all(dir);
    return status;
}
