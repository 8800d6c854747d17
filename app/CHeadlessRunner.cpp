// The headless front end: the instance lock, the stop signals, the window thread with its
// discovery passes, and the orderly stop.
#include "app/CHeadlessRunner.h"

#include "control/CControlChannel.h"
#include "control/CControlCommands.h"
#include "core/audit/DiscoveryAudit.h"
#include "platform/io/ServiceManagerNotify.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CEventLoop.h"
#include "platform/ui/CStderrMessageBoxes.h"
#include "resources/OrvaneVersion.h"
#include "service/CServiceOptions.h"
#include "storage/CServerDiscovery.h"
#include "storage/CServerRowList.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <pthread.h>
#include <thread>

namespace {

// The exit status when the directory store cannot be used.
constexpr int kStoreUnusableStatus = 2;

// What orvanectl reaches without a window: the tables, the plain server rows and discovery.
class CHeadlessControlTarget : public IControlTarget {
public:
    CHeadlessControlTarget(COrvaneSrvCore& core, IServerListView& rows, CServerDiscovery& discovery,
                           std::shared_ptr<IWindowThread> window)
        : m_core(core), m_rows(rows), m_discovery(discovery), m_pWindow(std::move(window)) {}

    COrvaneSrvCore& Core() override { return m_core; }
    IServerListView& Servers() override { return m_rows; }
    std::shared_ptr<IWindowThread> Window() override { return m_pWindow; }
    CServerDiscovery* Discovery() override { return &m_discovery; }
    void OnDirectoryChanged() override {}

private:
    COrvaneSrvCore& m_core;
    IServerListView& m_rows;
    CServerDiscovery& m_discovery;
    std::shared_ptr<IWindowThread> m_pWindow;
};

CControlCommands::CInfo StatusInfo(const std::filesystem::path& storeFile) {
    std::error_code ec;
    return {Utf16ToUtf8(ORVANE_VERSION_TEXT), storeFile.string(),
            std::filesystem::current_path(ec).string(), CServiceOptions::kDefaultPort};
}

} // namespace

CHeadlessRunner::CHeadlessRunner(COrvaneSrvApp& app) : m_app(app) {}

int CHeadlessRunner::Run() {
    const auto registryFile = CRegistryHive::DefaultPath();
    if (!m_app.AcquireInstanceLock(registryFile.parent_path() / "instance.lock")) {
        std::fputs("OrvaneSrv is already running for this user.\n", stderr);
        return 0;
    }
    // A peer that closes its connection early must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    // Every thread started from here on inherits the mask; only the waiter below takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    CEventLoop loop;
    CServerRowList rows;
    CStderrMessageBoxes boxes;
    std::unique_ptr<CServerDiscovery> discovery;
    COrvaneSrvApp::CFrontEndSteps steps;
    // The first pass starts between the load of the directory and the built-in accounts.
    steps.afterLoad = [&](COrvaneSrvCore& core) {
        CServerDiscovery::CHooks hooks;
        AddDiscoveryAudit(hooks, core);
        discovery =
            core.MakeServerTableWorker<CServerDiscovery>(rows, loop.Window(), std::move(hooks));
        discovery->StartFirstPass();
    };
    steps.beforeFree = [&](COrvaneSrvCore&) {
        // Whatever a running pass reports from now on goes nowhere; the SLP library's
        // process-wide state is never destroyed, so the process may end while the pass thread
        // still waits in it.
        loop.Window()->Close();
        discovery.reset();
    };
    CStartUpResult started = m_app.StartUp(std::make_unique<CRegistryHive>(registryFile), steps);
    if (!started) {
        std::fputs((Utf16ToUtf8(started.strError) + "\n").c_str(), stderr);
        return kStoreUnusableStatus;
    }
    std::fprintf(stderr, "OrvaneSrv: directory store %s; running until SIGINT or SIGTERM\n",
                 registryFile.c_str());
    // Without a window nobody sees the console's warning line: the log of the start says it.
    if (started.pCore->HasDefaultAdminPassword()) {
        std::fputs("OrvaneSrv: warning: \"admin\" still has the default password; change it with "
                   "orvanectl user set admin --ask-password\n",
                   stderr);
    }
    if (!loop.SetTimer(CServerDiscovery::kTimerId,
                       std::chrono::milliseconds(CServerDiscovery::kPeriodMs),
                       [&discovery] { discovery->OnTimer(); })) {
        boxes.Show(u"SetTimer failed", EMessageIcon::Error);
    }
    std::thread waiter([&loop, stopSignals] {
        int signal = 0;
        while (sigwait(&stopSignals, &signal) != 0) {
        }
        loop.Quit();
    });
    CHeadlessControlTarget target(*started.pCore, rows, *discovery, loop.Window());
    CControlCommands commands(target, StatusInfo(registryFile));
    auto control = CControlChannel::OpenBeside(
        loop.Window(),
        [&commands](const std::vector<std::string>& args, const CControlChannel::CDone& done) {
            commands.Run(args, done);
        },
        registryFile);
    NotifyServiceReady("serving without a window");
    loop.Run();
    waiter.join();
    NotifyServiceStopping();
    // Waiting orvanectl requests are answered that the program stops.
    control.reset();
    m_app.ShutDown(*started.pCore, steps);
    return 0;
}
