// What every connection thread of one run of the credential service shares: the directory core
// with the guard over its tables, the settings of the run, the folder that GET serves, the log,
// the password-guessing throttle, the caps on connections served at once (in all and per client
// address) and the pool of idle connection threads.
//
// The threads reach the tables through the core's CTablesAccess, which holds the guard by shared
// pointer, so it outlives the core. Every access goes through WithTables, which takes the guard
// and checks that the tables are alive first: once they have been freed, a thread that is still
// serving never dereferences the core again.
#pragma once

#include "core/COrvaneSrvCore.h"
#include "core/ldap/CMappedGroupsMemo.h"
#include "platform/io/CUniqueFd.h"
#include "platform/tls/CTlsServerContext.h"
#include "service/CServiceLog.h"
#include "service/CServiceOptions.h"
#include "service/answers/CQueryCache.h"
#include "service/http/CLoginThrottle.h"
#include "service/listener/CAddressConnections.h"
#include "service/listener/CBlockingSocket.h"
#include "service/listener/CConnectionSlots.h"
#include "service/listener/CIdleConnectionThreads.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

class CServiceContext {
public:
    CServiceContext(COrvaneSrvCore& core, CServiceOptions options,
                    std::shared_ptr<CIdleConnectionThreads> pIdleThreads);

    // The time the settings' clock tells, or the steady clock's.
    CLoginThrottle::Clock::time_point Now() const;

    // Runs f(tables, generation) under the shared guard, with the generation of the tables as f
    // sees them; false (f not run) once the tables are gone.
    template <class F>
    bool WithTablesSharedAt(F&& f) const {
        return m_tables.Read([&](const CTablesView& tables) {
            if (!tables.bAlive) {
                return false;
            }
            f(tables, tables.generation);
            return true;
        });
    }
    // Runs f(servers) under the exclusive guard; false (f not run) once the tables are gone.
    template <class F>
    bool WithServersExclusive(F&& f) const {
        return m_tables.ChangeServers(std::forward<F>(f));
    }

    const CServiceOptions m_options;
    // The served folder with symbolic links resolved, without a trailing slash (except "/"),
    // and the folder opened with O_PATH for lookups beneath it. When it cannot be opened both
    // stay empty, GET finds nothing, and m_strDocRootError says why.
    std::string m_strDocRoot;
    CUniqueFd m_docRootFd;
    std::string m_strDocRootError;
    // Every thread of the run writes its entries here.
    mutable CServiceLog m_log;
    mutable CLoginThrottle m_throttle;
    mutable CQueryCache m_queryCache;
    // The records each group reaches, kept between answers while the access lists and the
    // server table's set of records stand.
    mutable CAccessResolution m_accessResolution;
    // The audit trail of the run; null when nothing is recorded.
    const std::shared_ptr<CAuditTrail> m_pAudit;
    // How many remembered authorizations are still being verified after a restart.
    const std::shared_ptr<const std::atomic<std::size_t>> m_pSealPending;
    // The users of the site's directory; null when none is configured.
    const std::shared_ptr<CLdapUsers> m_pLdapUsers;
    // The groups that directory users' groups give, while the tables' generation stands.
    mutable CMappedGroupsMemo m_mappedGroups;
    std::atomic<bool> m_bStopping{false};
    CConnectionSlots m_slots;
    CAddressConnections m_addresses;
    // Set while connections wait at the cap, while connections are closed at the cap for new
    // ones, and while connection threads cannot be started: each condition is logged once when
    // it begins, not once per connection.
    std::atomic<bool> m_bAtConnectionCap{false};
    std::atomic<bool> m_bClosingAtCap{false};
    std::atomic<bool> m_bThreadStartFailing{false};
    // True until the stop of this run has finished waiting for its acceptor: an acceptor of an
    // earlier run that wakes late leaves the flag of a later run alone.
    std::atomic<bool> m_bCurrentRun{true};
    // The listener of the TLS port and its chain's running flag (the plain port's are
    // process-wide).
    CBlockingSocket m_tlsListenSocket;
    // Set up before the TLS chain starts, read-only afterwards.
    CTlsServerContext m_tls;
    std::atomic<int> m_bTlsRunning{0};
    // Threads that served a connection of this service and wait to be reused.
    const std::shared_ptr<CIdleConnectionThreads> m_pIdleThreads;

private:
    void OpenDocRoot();

    const CTablesAccess m_tables;
};
