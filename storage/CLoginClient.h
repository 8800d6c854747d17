// The login to storage servers: for each selected row of the System tab, one worker thread sends
// the administrator credentials to the server's HTTP interface (port 51000) and records a
// successful login in the server's record (LoginRequest, LoginThreadProc, OnLoginResult). Results
// reach the operator as message boxes (shown from the worker, which waits for the answer) and in
// the row's Auth cell (set on the window thread).
//
// Qt-free. Workers hold what they need by shared pointer: at shutdown nothing waits for them, and
// once the tables are freed or the window is gone they touch neither. A launcher thread starts
// them, and they run below the window thread's priority, so that a login to a thousand servers
// at once leaves the window responsive.
#pragma once

#include "platform/sync/CTableGuard.h"
#include "platform/ui/IMessageBoxes.h"
#include "platform/ui/IWindowThread.h"
#include "storage/CServerTable.h"
#include "storage/IServerListView.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

struct CLoginOptions {
    static constexpr uint16_t kServerApiPort = 51000; // SERVER_API_PORT
    static constexpr const char* kServerApiPath = "/api/tarvik_storage_server_x.php";

    uint16_t nPort = kServerApiPort;
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds requestTimeout{30000};
    // Told of the end of every login, on its worker: the array's MAC and IP address, the
    // administrator user name and how it went ("succeeded", "authentication failed", ...).
    // Empty: nobody is told.
    std::function<void(std::u16string_view mac, std::u16string_view ip, std::u16string_view user,
                       std::string_view result)>
        onResult;
};

class CLoginClient {
public:
    // list is used on the window thread only (through window); window's owner closes it before
    // list goes away.
    CLoginClient(CServerTable& table, std::shared_ptr<CTableGuard> guard, IServerListView& list,
                 std::shared_ptr<IWindowThread> window, std::shared_ptr<IMessageBoxes> boxes,
                 CLoginOptions options = {});
    // Running workers go on without us: they find the window closed and the tables gone.
    ~CLoginClient();
    CLoginClient(const CLoginClient&) = delete;
    CLoginClient& operator=(const CLoginClient&) = delete;

    // Window thread: starts one login worker for the row whose MAC and IP address columns are
    // given, with the operator's user name and password. The caller sets the row's Auth cell to
    // "Logging" afterwards.
    void Login(std::u16string mac, std::u16string ip, std::u16string userName,
               std::u16string password);

    // Logins whose worker has not finished its result step yet.
    std::size_t RunningLogins() const;

    // What the workers share with this object (defined with them).
    struct CShared;

private:
    std::shared_ptr<CShared> m_pShared;
};
