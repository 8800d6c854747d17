#include "app/CHeadlessRunner.h"

#include "platform/text/TextConv.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>

namespace {

// The exit status when the directory store cannot be used.
constexpr int kStoreUnusableStatus = 2;

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
    // Every thread started from here on inherits the mask; only sigwait below takes the signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    CStartUpResult started = m_app.StartUp(std::make_unique<CRegistryHive>(registryFile));
    if (!started) {
        std::fputs((Utf16ToUtf8(started.strError) + "\n").c_str(), stderr);
        return kStoreUnusableStatus;
    }
    std::fprintf(stderr, "OrvaneSrv: directory store %s; running until SIGINT or SIGTERM\n",
                 registryFile.c_str());
    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0) {
    }
    m_app.ShutDown(std::move(started.pCore));
    return 0;
}
