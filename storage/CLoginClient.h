// The login to storage servers: for each server given, the administrator credentials go to its
// HTTP interface (port 51000), a successful login is recorded in the server's record, and the
// caller learns how each one ended as a CLoginOutcome. Nothing here reports to a window, a list or
// the operator: the callers (the System tab, the control channel) turn outcomes into cells, boxes
// and lines.
//
// Qt-free. The logins run on the process's shared CLoginPool; each Login call is one request
// there. Workers hold what they need by shared pointer: at shutdown nothing waits for them, and
// once the tables are freed they touch no record.
#pragma once

#include "platform/sync/CTableGuard.h"
#include "storage/CLoginOutcome.h"
#include "storage/CLoginPool.h"
#include "storage/CLoginTarget.h"
#include "storage/CServerTable.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct CLoginOptions {
    static constexpr uint16_t kServerApiPort = 51000;
    static constexpr const char* kServerApiPath = "/api/tarvik_storage_server_x.php";

    uint16_t nPort = kServerApiPort;
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds requestTimeout{30000};
};

class CLoginClient {
public:
    // Told on the login's worker, after the record shows the result; it may block that worker
    // (a box the operator answers), which then holds one of the pool's places meanwhile.
    using COnOutcome = std::function<void(const CLoginOutcome&)>;

    // table is guarded by guard, whose m_bTablesAlive says whether it may still be touched.
    CLoginClient(CServerTable& table, std::shared_ptr<CTableGuard> guard,
                 std::shared_ptr<CLoginPool> pool, CLoginOptions options = {});
    // Queued logins are dropped untold; running ones go on without us.
    ~CLoginClient();
    CLoginClient(const CLoginClient&) = delete;
    CLoginClient& operator=(const CLoginClient&) = delete;

    // One request: a login for each server given (its row's MAC and the address to log in at),
    // with the operator's user name and password (or the target's own); onOutcome hears of each
    // login's end.
    void Login(std::vector<CLoginTarget> targets, std::u16string userName, std::u16string password,
               COnOutcome onOutcome);

    // Logins (queued or running) whose outcome has not been told yet.
    std::size_t RunningLogins() const;

    // What the workers share with this object (defined with them).
    struct CShared;

private:
    std::shared_ptr<CShared> m_pShared;
    std::shared_ptr<CLoginPool> m_pPool;
    std::vector<CLoginPool::CTicket> m_listTickets;
};
