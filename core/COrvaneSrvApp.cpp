#include "core/COrvaneSrvApp.h"

#include "core/audit/AuditRecords.h"
#include "core/seal/CAuthorizationSeal.h"
#include "platform/text/TextConv.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
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
    // The holder's process id, for a copy that finds the lock taken and has to name it.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd.Get(), 0) != 0 || ::pwrite(fd.Get(), pid.data(), pid.size(), 0) < 0) {
        std::fprintf(stderr, "OrvaneSrv: cannot write the process id to %s\n", lockFile.c_str());
    }
    m_lockFd = std::move(fd);
    return true;
}

pid_t COrvaneSrvApp::InstanceLockHolder(const std::filesystem::path& lockFile) {
    CUniqueFd fd(::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    constexpr std::size_t kMaxPidText = 16;
    char text[kMaxPidText] = {};
    if (!fd || ::read(fd.Get(), text, sizeof text - 1) <= 0) {
        return 0;
    }
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    return pid > 0 && end != text && *end == '\n' ? static_cast<pid_t>(pid) : 0;
}

std::u16string COrvaneSrvApp::OpenStore(COrvaneSrvCore& core) {
    CRegistryHive& hive = core.m_registry.Hive();
    const auto because = [&hive](const char* what) {
        return Utf8ToUtf16(std::string(what) + " (" + hive.LastErrorText() + ")");
    };
    const LSTATUS st = hive.Connect();
    if (hive.IsReadOnly()) {
        return because("it can be read but not written");
    }
    if (st != ERROR_SUCCESS) {
        return because("it cannot be opened for reading and writing");
    }
    // The write lock: every later change needs it, so a store that another process keeps
    // locked is not one to run on.
    if (const LSTATUS st = hive.Begin(); st != ERROR_SUCCESS) {
        if (st != ERROR_LOCK_VIOLATION) {
            return because("it cannot be opened for reading and writing");
        }
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(m_storeLockWait);
        return Utf8ToUtf16("another process kept it locked for more than " +
                           std::to_string(seconds.count()) + " seconds");
    }
    hive.Rollback();
    if (hive.CheckIntegrity() != ERROR_SUCCESS || !core.LoadDirectory()) {
        return because("it cannot be read completely");
    }
    return {};
}

CStartUpResult COrvaneSrvApp::StartUp(std::unique_ptr<CRegistryHive> hive,
                                      const CFrontEndSteps& steps) {
    const std::string path = hive->Path().string();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(m_storeLockWait);
    hive->SetLockWait(m_storeLockWait, [path, seconds] {
        const std::string line = "OrvaneSrv: the directory store " + path +
                                 " is locked by another process; waiting up to " +
                                 std::to_string(seconds.count()) + " seconds\n";
        std::fputs(line.c_str(), stderr);
    });
    auto core = std::make_unique<COrvaneSrvCore>(std::move(hive));
    core->SetAuditTrail(m_pAudit);
    core->SetLdapUsers(m_pLdapUsers);
    if (const std::u16string why = OpenStore(*core); !why.empty()) {
        return {nullptr, u"OrvaneSrv cannot use the directory store " + Utf8ToUtf16(path) + u": " +
                             why + u". Nothing was changed; OrvaneSrv does not start without it."};
    }
    if (steps.afterLoad) {
        steps.afterLoad(*core);
    }
    if (!core->CreateBuiltInAccounts()) {
        if (steps.beforeFree) {
            steps.beforeFree(*core);
        }
        return {nullptr, u"OrvaneSrv cannot use the directory store " + Utf8ToUtf16(path) +
                             u": the built-in accounts cannot be written to it (" +
                             Utf8ToUtf16(core->m_registry.Hive().LastErrorText()) +
                             u"). Nothing was changed; OrvaneSrv does not start without it."};
    }
    core->m_registry.Hive().SetLockWait(CRegistryHive::kDefaultLockWait);
    // Before the service: a remembered authorization is verified before it is handed out, and
    // the page tells users that verification is under way from the first request.
    CAuthorizationSeal& seal = core->Seal();
    seal.SetLog(m_seal.log);
    seal.SetLoginOptions(m_seal.loginOptions);
    seal.Start(std::filesystem::path(path).parent_path() / CAuthorizationSeal::kFileName,
               std::move(m_seal.key));
    if (steps.beforeService) {
        steps.beforeService(*core);
    }
    // Last, so that no request is served before the directory is complete.
    if (m_hooks.start) {
        m_hooks.start(*core);
    }
    core->Audit(StartRecord(path, ::getpid()));
    return {std::move(core), {}};
}

void COrvaneSrvApp::ShutDown(COrvaneSrvCore& core, const CFrontEndSteps& steps) {
    // The listener goes first, before any record is freed.
    if (m_hooks.stop) {
        m_hooks.stop(core);
    }
    if (steps.beforeFree) {
        steps.beforeFree(core);
    }
    // The hand-outs still being counted are written first: "stop" is the trail's last word.
    if (const auto& trail = core.AuditTrail()) {
        trail->FlushSummaries(true);
        trail->Write(StopRecord(::getpid()));
        trail->Sync();
    }
    core.FreeTables();
}
