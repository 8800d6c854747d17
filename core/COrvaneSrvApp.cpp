#include "core/COrvaneSrvApp.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

COrvaneSrvApp::COrvaneSrvApp(CServiceHooks hooks) : m_hooks(std::move(hooks)) {}

COrvaneSrvApp::~COrvaneSrvApp() = default;

bool COrvaneSrvApp::AcquireInstanceLock(const std::filesystem::path& lockFile) {
    std::error_code ec;
    const auto dir = lockFile.parent_path();
    if (!std::filesystem::exists(dir, ec)) {
        std::filesystem::create_directories(dir, ec);
        ::chmod(dir.c_str(), 0700);
    }
    CUniqueFd fd(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd) {
        // Without a lock file there is no way to tell; run rather than refuse to start.
        return true;
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        return errno != EWOULDBLOCK;
    }
    m_lockFd = std::move(fd);
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
