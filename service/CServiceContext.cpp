#include "service/CServiceContext.h"

#include "core/seal/CAuthorizationSeal.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>

CServiceContext::CServiceContext(COrvaneSrvCore& core, CServiceOptions options,
                                 std::shared_ptr<CIdleConnectionThreads> pIdleThreads)
    : m_options(std::move(options)), m_log(m_options.nLogFd, m_options.logFile,
                                           m_options.nLogFileMaxBytes, m_options.nLogFilesKept),
      m_throttle(CLoginThrottle::CSettings{
          m_options.nMaxFailedChecks, m_options.failureWindow, m_options.nMaxThrottledAddresses,
          m_options.nMaxFailedChecksPerName, m_options.nameCheckInterval}),
      m_queryCache(m_options.nQueryCacheBytes), m_pAudit(core.AuditTrail()),
      m_pSealPending(core.Seal().PendingCount()), m_pLdapUsers(core.LdapUsers()),
      m_slots(m_options.nMaxConnections), m_addresses(m_options.nMaxConnectionsPerAddress),
      m_pIdleThreads(std::move(pIdleThreads)), m_tables(core.Tables()) {
    OpenDocRoot();
}

CLoginThrottle::Clock::time_point CServiceContext::Now() const {
    return m_options.clock ? m_options.clock() : CLoginThrottle::Clock::now();
}

void CServiceContext::OpenDocRoot() {
    std::error_code ec;
    const bool bWorkingDirectory = m_options.docRoot.empty();
    const std::filesystem::path base =
        bWorkingDirectory ? std::filesystem::current_path(ec) : m_options.docRoot;
    // A working directory that was deleted has no name left to show.
    const std::string shown = bWorkingDirectory && ec ? "working directory" : base.string();
    std::filesystem::path real;
    if (!ec) {
        real = std::filesystem::canonical(base, ec);
    }
    if (!ec) {
        m_docRootFd.Reset(::open(real.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!m_docRootFd) {
            ec.assign(errno, std::generic_category());
        }
    }
    if (ec) {
        m_strDocRootError = shown + ": " + ec.message();
        return;
    }
    m_strDocRoot = real.string();
    while (m_strDocRoot.size() > 1 && m_strDocRoot.ends_with('/')) {
        m_strDocRoot.pop_back();
    }
}
