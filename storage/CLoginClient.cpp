// The login workers and the launcher that starts them: the request to the storage server, the
// result step with its message boxes, the record and the Auth cell.
#include "storage/CLoginClient.h"

#include "platform/http/CHttpClient.h"
#include "platform/text/Base64.h"
#include "platform/text/TextConv.h"

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {
struct LoginRequest;
} // namespace

struct CLoginClient::CShared {
    CShared(CServerTable& table, std::shared_ptr<CTableGuard> pGuard, IServerListView& list,
            std::shared_ptr<IWindowThread> pWindow, std::shared_ptr<IMessageBoxes> pBoxes,
            CLoginOptions options)
        : table(table), pGuard(std::move(pGuard)), list(list), pWindow(std::move(pWindow)),
          pBoxes(std::move(pBoxes)), options(options) {}

    CServerTable& table;
    std::shared_ptr<CTableGuard> pGuard;
    IServerListView& list; // on the window thread only
    std::shared_ptr<IWindowThread> pWindow;
    std::shared_ptr<IMessageBoxes> pBoxes;
    CLoginOptions options;
    std::atomic<std::size_t> nRunning{0};
    // Workers not started yet, and whether a launcher thread is starting them.
    std::mutex launchMutex;
    std::vector<std::shared_ptr<LoginRequest>> listToLaunch;
    bool bLauncherRunning = false;
};

namespace {

constexpr const char* kBody = "op=query&query=0";
constexpr const char* kUserAgent = "OrvaneSrv";
constexpr const char* kAuthorization = "Authorization:Basic ";
constexpr const char* kContentType = "Content-Type: application/x-www-form-urlencoded";
constexpr long kStatusOk = 200;
constexpr long kStatusUnauthorized = 401;
constexpr long kStatusNotFound = 404;
constexpr char16_t kLow8Bits = 0xFF;
// How much a login worker yields to the window thread. A login to hundreds of servers at once
// starts as many workers; at the window thread's own priority they would take the processor
// from it for as long as they run, and the window would stand still.
constexpr int kWorkerNiceness = 10;

// One login, from the click to the end of its result step; owned by its worker.
struct LoginRequest {
    std::u16string strMAC;
    std::u16string strIP;
    std::u16string strUserName;
    std::u16string strPassword;
    std::string strBody = kBody;
    std::shared_ptr<CLoginClient::CShared> pShared;
};

// The servers take one byte per character of "user:password": its low 8 bits.
std::string BasicCredentials(const LoginRequest& request) {
    const std::u16string text = request.strUserName + u":" + request.strPassword;
    std::string bytes;
    bytes.reserve(text.size());
    for (const char16_t c : text) {
        bytes.push_back(static_cast<char>(c & kLow8Bits));
    }
    return Base64Encode(bytes);
}

CHttpRequest HttpRequestFor(const LoginRequest& request) {
    const CLoginOptions& options = request.pShared->options;
    CHttpRequest http;
    http.strHost = Utf16ToUtf8(request.strIP);
    http.nPort = options.nPort;
    http.strPath = CLoginOptions::kServerApiPath;
    http.listHeaders = {kAuthorization + BasicCredentials(request), kContentType};
    http.strBody = request.strBody;
    http.strUserAgent = kUserAgent;
    http.nBodyCapacity = CServerData::kLoginResponseMax;
    http.nBodyOnlyForStatus = kStatusOk; // no other answer's body is read
    http.connectTimeout = options.connectTimeout;
    http.requestTimeout = options.requestTimeout;
    return http;
}

std::u16string Number(long value) {
    return Utf8ToUtf16(std::to_string(value));
}

// Records a successful login, authorized at the address it went to; false when the server's
// record is gone (swept, or the tables freed at shutdown) or was announced at another address
// while the login was out: the credentials were checked by whoever answered there.
bool StoreLogin(const LoginRequest& request, const std::string& body) {
    CLoginClient::CShared& shared = *request.pShared;
    const std::string address = Utf16ToUtf8(request.strIP);
    auto lock = shared.pGuard->LockExclusive();
    if (!shared.pGuard->m_bTablesAlive) {
        return false;
    }
    CServerData* record = shared.table.Find(request.strMAC);
    if (record == nullptr || address != record->m_szIPAddr) {
        return false;
    }
    record->SetLoginResponse(body);
    record->m_bAuthorized = 1;
    record->SetAuthorizedIP(address);
    record->m_strLoginUserName = request.strUserName;
    record->m_strLoginPasswd = request.strPassword;
    return true;
}

// The result step, on the worker: the record, a message box for a failure (the worker waits for
// the operator), then the row's Auth cell on the window thread. body is null for a client error,
// and code is then libcurl's error number.
void OnLoginResult(long code, const std::string* body, const LoginRequest& request) {
    CLoginClient::CShared& shared = *request.pShared;
    IMessageBoxes& boxes = *shared.pBoxes;
    const std::u16string& caption = request.strIP;
    bool bSucceeded = false;
    // Told before a message box: the worker waits for the operator's answer to one.
    const auto tell = [&shared, &request](std::string_view result) {
        if (shared.options.onResult) {
            shared.options.onResult(request.strMAC, request.strIP, request.strUserName, result);
        }
    };
    if (body == nullptr) {
        tell("connection error " + std::to_string(code));
        boxes.Show(u"Internet Exception. (ErrorCode: " + Number(code) + u")", caption,
                   EMessageIcon::Error, EMessageButtons::Ok);
    } else if (code == kStatusOk) {
        bSucceeded = StoreLogin(request, *body);
        tell(bSucceeded ? "succeeded" : "the array moved while the login ran");
    } else if (code == kStatusUnauthorized) {
        tell("authentication failed");
        boxes.Show(u"Authentication failed", caption, EMessageIcon::Error, EMessageButtons::Ok);
    } else if (code == kStatusNotFound) {
        tell("not supported");
        boxes.Show(u"Not Support", caption, EMessageIcon::Warning, EMessageButtons::Ok);
    } else {
        tell("http status " + std::to_string(code));
        boxes.Show(u"Http Status Code: " + Number(code), caption, EMessageIcon::Warning,
                   EMessageButtons::Ok);
    }
    // The count drops with the cell, on the window thread, so that whoever runs that thread
    // until no login is left also sees every cell set; with the window gone, here.
    const bool bShown = shared.pWindow->Send([&shared, &request, bSucceeded] {
        const std::size_t row = shared.list.FindRow(EServerColumn::IPAddr, request.strIP);
        if (row != IServerListView::npos) {
            shared.list.SetCellText(row, EServerColumn::Auth, bSucceeded ? u"Yes" : u"No");
        }
        --shared.nRunning;
    });
    if (!bShown) {
        --shared.nRunning;
    }
}

// Linux gives each thread its own niceness; a failure leaves the thread as it was.
void YieldToTheWindowThread() {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kWorkerNiceness);
}

void LoginThreadProc(std::shared_ptr<LoginRequest> request) {
    YieldToTheWindowThread();
    CHttpClient client;
    const CHttpResponse response = client.Post(HttpRequestFor(*request));
    if (response.nError != 0) {
        OnLoginResult(response.nError, nullptr, *request);
    } else {
        if (response.nStatus == kStatusOk && response.bOverflow) {
            request->pShared->pBoxes->Show(u"File overran buffer -- not cached");
        }
        OnLoginResult(response.nStatus, &response.strBody, *request);
    }
}

void StartWorker(const std::shared_ptr<LoginRequest>& request) {
    try {
        std::thread(LoginThreadProc, request).detach();
    } catch (const std::system_error&) {
        // No worker: the login fails like one whose request could not be set up, once the
        // caller has marked the row.
        request->pShared->pWindow->Post(
            [request] { OnLoginResult(CHttpClient::kErrorFailedInit, nullptr, *request); });
    }
}

// Takes the workers' start off the window thread: starting hundreds of threads there, for a
// login to hundreds of servers, would hold the window still for as long.
void LauncherThreadProc(std::shared_ptr<CLoginClient::CShared> shared) {
    YieldToTheWindowThread();
    for (;;) {
        std::vector<std::shared_ptr<LoginRequest>> batch;
        {
            std::lock_guard lock(shared->launchMutex);
            if (shared->listToLaunch.empty()) {
                shared->bLauncherRunning = false;
                return;
            }
            batch.swap(shared->listToLaunch);
        }
        for (const auto& request : batch) {
            StartWorker(request);
        }
    }
}

} // namespace

CLoginClient::CLoginClient(CServerTable& table, std::shared_ptr<CTableGuard> guard,
                           IServerListView& list, std::shared_ptr<IWindowThread> window,
                           std::shared_ptr<IMessageBoxes> boxes, CLoginOptions options)
    : m_pShared(std::make_shared<CShared>(table, std::move(guard), list, std::move(window),
                                          std::move(boxes), options)) {}

CLoginClient::~CLoginClient() = default;

std::size_t CLoginClient::RunningLogins() const {
    return m_pShared->nRunning;
}

void CLoginClient::Login(std::u16string mac, std::u16string ip, std::u16string userName,
                         std::u16string password) {
    auto request = std::make_shared<LoginRequest>(LoginRequest{
        std::move(mac), std::move(ip), std::move(userName), std::move(password), kBody, m_pShared});
    ++m_pShared->nRunning;
    {
        std::lock_guard lock(m_pShared->launchMutex);
        m_pShared->listToLaunch.push_back(std::move(request));
        if (std::exchange(m_pShared->bLauncherRunning, true)) {
            return; // the running launcher takes it
        }
    }
    try {
        std::thread(LauncherThreadProc, m_pShared).detach();
    } catch (const std::system_error&) {
        // No launcher: the workers start from here.
        std::vector<std::shared_ptr<LoginRequest>> batch;
        {
            std::lock_guard lock(m_pShared->launchMutex);
            batch.swap(m_pShared->listToLaunch);
            m_pShared->bLauncherRunning = false;
        }
        for (const auto& pending : batch) {
            StartWorker(pending);
        }
    }
}
