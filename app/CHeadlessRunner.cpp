// The headless front end: the instance lock, the stop signals, the window thread with its
// discovery passes, and the orderly stop.
#include "app/CHeadlessRunner.h"

#include "platform/ui/CEventLoop.h"
#include "platform/ui/CStderrMessageBoxes.h"
#include "storage/CServerDiscovery.h"
#include "storage/CServerRowList.h"

#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <thread>

CHeadlessRunner::CHeadlessRunner(COrvaneSrvApp& app) : m_app(app) {}

int CHeadlessRunner::Run() {
    const auto registryFile = CRegistryHive::DefaultPath();
    if (!m_app.AcquireInstanceLock(registryFile.parent_path() / "instance.lock")) {
        std::fputs("OrvaneSrv is already running for this user.\n", stderr);
        return 0;
    }
    // A peer that closes its connection early must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    // Every thread started from here on inherits the mask; only sigwait below takes the signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    auto core = m_app.StartUp(std::make_unique<CRegistryHive>(registryFile));
    std::fprintf(stderr, "OrvaneSrv: directory store %s; running until SIGINT or SIGTERM\n",
                 registryFile.c_str());
    const bool passStillRunning = RunWindowThread(*core, stopSignals);
    m_app.ShutDown(std::move(core));
    if (passStillRunning) {
        // A pass thread may still be waiting inside the SLP library, whose process-wide state
        // the normal exit would destroy under it; end without running those destructors.
        std::fflush(nullptr);
        std::_Exit(0);
    }
    return 0;
}

bool CHeadlessRunner::RunWindowThread(COrvaneSrvCore& core, const sigset_t& stopSignals) {
    CEventLoop loop;
    CServerRowList rows;
    CStderrMessageBoxes boxes;
    CServerDiscovery discovery(core.m_mapServers, core.Guard(), rows, loop.Window(), {});
    discovery.StartFirstPass();
    if (!loop.SetTimer(CServerDiscovery::kTimerId,
                       std::chrono::milliseconds(CServerDiscovery::kPeriodMs),
                       [&discovery] { discovery.OnTimer(); })) {
        boxes.Show(u"SetTimer failed", EMessageIcon::Error);
    }
    std::thread waiter([&loop, stopSignals] {
        int signal = 0;
        while (sigwait(&stopSignals, &signal) != 0) {
        }
        loop.Quit();
    });
    loop.Run();
    waiter.join();
    // Whatever a running pass reports from now on goes nowhere.
    loop.Window()->Close();
    return discovery.PassThreadRunning();
}
