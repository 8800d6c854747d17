// The login to storage servers: for each selected row of the System tab, a worker thread sends
// the administrator credentials to the server's HTTP interface (port 51000) and records a
// successful login in the server's record (LoginRequest, RunLogin, OnLoginResult). Results reach
// the operator in the row's Auth cell (set on the window thread) and as message boxes (shown from
// the worker, which waits for the answer): of one Login press, the first failure gets its own box
// and the other failures one summary box at the end, not a box each.
//
// Qt-free. At most kMaxConcurrentLogins logins run at once, on a pool of as many worker threads;
// the rest wait in a queue, so that a press on ten thousand rows needs neither ten thousand
// threads nor as many sockets. Workers hold what they need by shared pointer: at shutdown nothing
// waits for them, and once the tables are freed or the window is gone they touch neither. They
// run below the window thread's priority, so that the window stays responsive.
#pragma once

#include "platform/sync/CTableGuard.h"
#include "platform/ui/IMessageBoxes.h"
#include "platform/ui/IWindowThread.h"
#include "storage/CLoginOutcome.h"
#include "storage/CLoginTarget.h"
#include "storage/CServerTable.h"
#include "storage/IServerListView.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct CLoginOptions {
    static constexpr uint16_t kServerApiPort = 51000;
    static constexpr const char* kServerApiPath = "/api/tarvik_storage_server_x.php";

    uint16_t nPort = kServerApiPort;
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds requestTimeout{30000};
    // Told of the end of every login, on its worker, before any box (the audit trail). Empty:
    // nobody is told.
    std::function<void(const CLoginOutcome&)> onResult;
};

class CLoginClient {
public:
    // Logins under way at once; the others queue.
    static constexpr std::size_t kMaxConcurrentLogins = 32;
    // Failures named one by one in a press's summary box; the rest are counted there and each
    // written to standard error.
    static constexpr std::size_t kSummaryListed = 20;

    // list is used on the window thread only (through window); window's owner closes it before
    // list goes away.
    CLoginClient(CServerTable& table, std::shared_ptr<CTableGuard> guard, IServerListView& list,
                 std::shared_ptr<IWindowThread> window, std::shared_ptr<IMessageBoxes> boxes,
                 CLoginOptions options = {});
    // Queued logins are dropped; running ones go on without us: they find the window closed and
    // the tables gone.
    ~CLoginClient();
    CLoginClient(const CLoginClient&) = delete;
    CLoginClient& operator=(const CLoginClient&) = delete;

    // How the failures of one press reach the boxes: the operator at the window gets the first
    // failure's box and one summary of the others; a caller that reports per array (the control
    // channel) takes the outcomes instead and shows no box.
    enum class EFailureBoxes { FirstThenSummary, None };
    using COnOutcome = std::function<void(const CLoginOutcome&)>;

    // Window thread: one press of the Login button: a login for each server given (its row's MAC
    // and the address to log in at), with the operator's user name and password. The caller sets
    // the rows' Auth cells to "Logging". onOutcome (on the worker, once the record and the row
    // show it) learns how each login ended.
    void Login(std::vector<CLoginTarget> targets, std::u16string userName, std::u16string password,
               EFailureBoxes boxes = EFailureBoxes::FirstThenSummary, COnOutcome onOutcome = {});

    // Logins (queued or running) whose result step has not finished yet.
    std::size_t RunningLogins() const;

    // What the workers share with this object (defined with them).
    struct CShared;

private:
    std::shared_ptr<CShared> m_pShared;
};
