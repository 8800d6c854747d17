#include "core/COrvaneSrvApp.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

COrvaneSrvApp::COrvaneSrvApp(CServiceHooks hooks) : m_hooks(std::move(hooks)) {}

COrvaneSrvApp::~COrvaneSrvApp() {
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
    }
}

bool COrvaneSrvApp::AcquireInstanceLock(const std::filesystem::path& lockFile) {
    std::error_code ec;
    const auto dir = lockFile.parent_path();
    if (!std::filesystem::exists(dir, ec)) {
        std::filesystem::create_directories(dir, ec);
        ::chmod(dir.c_str(), 0700);
    }
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        // Without a lock file there is no way to tell; run rather than refuse to start.
        return true;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return errno != EWOULDBLOCK;
    }
    m_lockFd = fd;
    return true;
}

std::unique_ptr<COrvaneSrvCore> COrvaneSrvApp::StartUp(std::unique_ptr<CRegistryHive> hive) {
    auto core = std::make_unique<COrvaneSrvCore>(std::move(hive));
    core->LoadDirectory();
    core->CreateBuiltInAccounts();
    // Last, so that no request is served before the directory is complete.
    if (m_hooks.start) {
        m_hooks.start(*core);
    }
    return core;
}

void COrvaneSrvApp::ShutDown(std::unique_ptr<COrvaneSrvCore> core) {
    if (!core) {
        return;
    }
    // The listener goes first, before any record is freed.
    if (m_hooks.stop) {
        m_hooks.stop(*core);
    }
    core->FreeTables();
}

int COrvaneSrvApp::RunHeadless() {
    const auto registryFile = CRegistryHive::DefaultPath();
    if (!AcquireInstanceLock(registryFile.parent_path() / "instance.lock")) {
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

    auto core = StartUp(std::make_unique<CRegistryHive>(registryFile));
    std::fprintf(stderr, "OrvaneSrv: directory store %s; running until SIGINT or SIGTERM\n",
                 registryFile.c_str());
    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0) {
    }
    ShutDown(std::move(core));
    return 0;
}
