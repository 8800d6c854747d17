// The login workers and their queue: the request to the storage server, the result step with
// its message boxes, the record and the Auth cell, and the summary of one press's failures.
#include "storage/CLoginClient.h"

#include "platform/http/CHttpClient.h"
#include "platform/text/Base64.h"
#include "platform/text/TextConv.h"

#include <atomic>
#include <cstdio>
#include <deque>
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
    // Logins no worker has taken yet, and the workers running.
    std::mutex queueMutex;
    std::deque<std::shared_ptr<LoginRequest>> queue;
    std::size_t nWorkers = 0;
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
// How much a login worker yields to the window thread. A login to hundreds of servers keeps the
// whole pool busy; at the window thread's own priority the workers would take the processor from
// it for as long as they run, and the window would stand still.
constexpr int kWorkerNiceness = 10;

// The logins of one Login press: who shows the first failure's box, and the other failures
// for the summary box that the press's last login shows.
struct CLoginPress {
    std::mutex mutex;
    std::size_t nUnfinished = 0;
    bool bBoxes = true;
    CLoginClient::COnOutcome onOutcome;
    bool bFirstFailureTaken = false;
    std::vector<std::u16string> listOtherFailures; // "IP (MAC): reason"
};

// One login, from the click to the end of its result step.
struct LoginRequest {
    CLoginTarget target;
    std::u16string strUserName;
    std::u16string strPassword;
    std::string strBody = kBody;
    std::shared_ptr<CLoginClient::CShared> pShared;
    std::shared_ptr<CLoginPress> pPress;
};

// A failure as the operator reads it.
struct CLoginFailure {
    std::u16string strText;
    EMessageIcon icon;
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
    http.strHost = Utf16ToUtf8(request.target.strIP);
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

// Records a successful login, authorized at the address it went to (which a login that named
// another address binds the record to); false when the server's record is gone (swept, or the
// tables freed at shutdown) or now lives at another address than the login went to.
bool StoreLogin(const LoginRequest& request, const std::string& body) {
    CLoginClient::CShared& shared = *request.pShared;
    const std::string address = Utf16ToUtf8(request.target.strIP);
    auto lock = shared.pGuard->LockExclusive();
    if (!shared.pGuard->m_bTablesAlive) {
        return false;
    }
    CServerData* record = shared.table.Find(request.target.strMAC);
    if (record == nullptr || (address != record->m_szIPAddr && !request.target.bRebind)) {
        return false;
    }
    if (request.target.bRebind) {
        record->Rebind(address);
    }
    record->m_bKnown = true;
    record->m_bOnline = 1;
    record->SetLoginResponse(body);
    record->m_bAuthorized = 1;
    record->SetAuthorizedIP(address);
    record->SetLoginCredentials(request.strUserName, request.strPassword);
    return true;
}

// What a client error (body null, code is libcurl's error number) or an answer other than 200
// tells the operator.
CLoginFailure FailureOf(long code, const std::string* body) {
    if (body == nullptr) {
        return {u"Internet Exception. (ErrorCode: " + Number(code) + u")", EMessageIcon::Error};
    }
    if (code == kStatusUnauthorized) {
        return {u"Authentication failed", EMessageIcon::Error};
    }
    if (code == kStatusNotFound) {
        return {u"Not Support", EMessageIcon::Warning};
    }
    return {u"Http Status Code: " + Number(code), EMessageIcon::Warning};
}

CLoginOutcome OutcomeOf(const LoginRequest& request, long code, const std::string* body,
                        bool bSucceeded) {
    CLoginOutcome outcome{request.target.strMAC,
                          request.target.strIP,
                          request.strUserName,
                          ELoginResult::Succeeded,
                          code,
                          {},
                          request.target.bKnown,
                          request.target.bRebind};
    if (body == nullptr) {
        outcome.eResult = ELoginResult::TransportError;
    } else if (code == kStatusOk) {
        outcome.eResult = bSucceeded ? ELoginResult::Succeeded : ELoginResult::Superseded;
    } else if (code == kStatusUnauthorized) {
        outcome.eResult = ELoginResult::Refused;
    } else if (code == kStatusNotFound) {
        outcome.eResult = ELoginResult::NotSupported;
    } else {
        outcome.eResult = ELoginResult::HttpStatus;
    }
    if (body == nullptr || code != kStatusOk) {
        outcome.strMessage = FailureOf(code, body).strText;
    }
    return outcome;
}

// The box of a press whose logins failed more than once: every failure after the first, which
// had a box of its own.
std::u16string SummaryText(const std::vector<std::u16string>& failures) {
    std::u16string text = u"The login also failed on " +
                          Number(static_cast<long>(failures.size())) +
                          (failures.size() == 1 ? u" other array" : u" other arrays") +
                          u" (IP address (MAC address): reason):";
    const std::size_t listed = std::min(failures.size(), CLoginClient::kSummaryListed);
    for (std::size_t i = 0; i < listed; ++i) {
        text += u"\n" + failures[i];
    }
    if (listed < failures.size()) {
        text += u"\n... and " + Number(static_cast<long>(failures.size() - listed)) +
                u" more, each written to standard error.";
        for (const std::u16string& failure : failures) {
            const std::string line = "OrvaneSrv: login failed: " + Utf16ToUtf8(failure) + "\n";
            std::fputs(line.c_str(), stderr);
        }
    }
    return text;
}

// Whether the record of the row's array holds credentials the service hands out. The cell
// shows this, not how the last login went: a failed re-login keeps the stored credentials.
bool IsAuthorized(const CLoginClient::CShared& shared, std::u16string_view mac) {
    auto lock = shared.pGuard->LockShared();
    if (!shared.pGuard->m_bTablesAlive || mac.empty()) {
        return false;
    }
    const CServerData* record = shared.table.Find(std::u16string(mac));
    return record != nullptr && record->m_bAuthorized != 0;
}

// Sets the row's Auth cell (and, after a login that moved the array, its address) on the window
// thread.
void ReportToRow(const LoginRequest& request, bool bSucceeded) {
    CLoginClient::CShared& shared = *request.pShared;
    shared.pWindow->Send([&shared, &request, bSucceeded] {
        const CLoginTarget& target = request.target;
        // A row with a record is found by its MAC address; one without (no MAC) by its address.
        const std::size_t row = target.strMAC.empty()
                                    ? shared.list.FindRow(EServerColumn::IPAddr, target.strIP)
                                    : shared.list.FindRow(EServerColumn::MAC, target.strMAC);
        if (row != IServerListView::npos) {
            if (target.bRebind && bSucceeded) {
                shared.list.SetCellText(row, EServerColumn::IPAddr, target.strIP);
                // Any other claims show again at the end of the next pass.
                shared.list.ShowAddressState(row, EAddressState::Bound, {});
            }
            const bool bAuthorized =
                IsAuthorized(shared, shared.list.CellText(row, EServerColumn::MAC));
            shared.list.ShowLoginResult(row, bSucceeded, bAuthorized ? u"Yes" : u"No");
        }
    });
}

// The login stops counting on the window thread, so that whoever runs that thread until no login
// is left also sees every cell set; with the window gone, the count drops here.
void StopCounting(CLoginClient::CShared& shared) {
    if (!shared.pWindow->Send([&shared] { --shared.nRunning; })) {
        --shared.nRunning;
    }
}

// The result step, on the worker: the record; for the press's first failure a box (the worker
// waits for the operator), for a later one a line of the summary; the row's Auth cell; and for
// the press's last login the summary box. body is null for a client error, and code is then
// libcurl's error number.
void OnLoginResult(long code, const std::string* body, const LoginRequest& request) {
    CLoginClient::CShared& shared = *request.pShared;
    CLoginPress& press = *request.pPress;
    const bool bSucceeded = body != nullptr && code == kStatusOk && StoreLogin(request, *body);
    const CLoginOutcome outcome = OutcomeOf(request, code, body, bSucceeded);
    // The audit trail hears of it before any box: the worker then waits for the operator.
    if (shared.options.onResult) {
        shared.options.onResult(outcome);
    }
    if (press.bBoxes && (body == nullptr || code != kStatusOk)) {
        const CLoginFailure failure = FailureOf(code, body);
        bool bFirst = false;
        {
            std::lock_guard lock(press.mutex);
            bFirst = !std::exchange(press.bFirstFailureTaken, true);
            if (!bFirst) {
                press.listOtherFailures.push_back(request.target.strIP + u" (" +
                                                  request.target.strMAC + u"): " + failure.strText);
            }
        }
        if (bFirst) {
            shared.pBoxes->Show(failure.strText, request.target.strIP, failure.icon,
                                EMessageButtons::Ok);
        }
    }
    // Finished only now: the summary follows the first failure's box, never beside it.
    std::vector<std::u16string> summary;
    {
        std::lock_guard lock(press.mutex);
        if (--press.nUnfinished == 0) {
            summary.swap(press.listOtherFailures);
        }
    }
    ReportToRow(request, bSucceeded);
    // The press's caller hears of it once the row shows it too.
    if (press.onOutcome) {
        press.onOutcome(outcome);
    }
    if (!summary.empty()) {
        shared.pBoxes->Show(SummaryText(summary), IMessageBoxes::kProgramName, EMessageIcon::Error,
                            EMessageButtons::Ok);
    }
    StopCounting(shared);
}

// Linux gives each thread its own niceness; a failure leaves the thread as it was.
void YieldToTheWindowThread() {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kWorkerNiceness);
}

void RunLogin(const std::shared_ptr<LoginRequest>& request) {
    CHttpClient client;
    const CHttpResponse response = client.Post(HttpRequestFor(*request));
    if (response.nError != 0) {
        OnLoginResult(response.nError, nullptr, *request);
    } else {
        if (response.nStatus == kStatusOk && response.bOverflow && request->pPress->bBoxes) {
            request->pShared->pBoxes->Show(u"File overran buffer -- not cached");
        }
        OnLoginResult(response.nStatus, &response.strBody, *request);
    }
}

// A pool worker: takes queued logins one after the other until none is left.
void WorkerProc(std::shared_ptr<CLoginClient::CShared> shared) {
    YieldToTheWindowThread();
    for (;;) {
        std::shared_ptr<LoginRequest> request;
        {
            std::lock_guard lock(shared->queueMutex);
            if (shared->queue.empty()) {
                --shared->nWorkers;
                return;
            }
            request = std::move(shared->queue.front());
            shared->queue.pop_front();
        }
        RunLogin(request);
    }
}

// Starts workers up to the pool's size for what the queue holds. When not even one worker runs
// and none can be started, the queued logins fail like ones whose request could not be set up,
// once the caller has marked their rows.
void StartWorkers(const std::shared_ptr<CLoginClient::CShared>& shared) {
    std::deque<std::shared_ptr<LoginRequest>> orphans;
    {
        std::lock_guard lock(shared->queueMutex);
        // Every running worker is busy: one that finds the queue empty ends.
        for (std::size_t started = 0; started < shared->queue.size() &&
                                      shared->nWorkers < CLoginClient::kMaxConcurrentLogins;
             ++started) {
            try {
                std::thread(WorkerProc, shared).detach();
            } catch (const std::system_error&) {
                break;
            }
            ++shared->nWorkers;
        }
        if (shared->nWorkers == 0) {
            orphans.swap(shared->queue);
        }
    }
    for (auto& request : orphans) {
        shared->pWindow->Post([request = std::move(request)] {
            OnLoginResult(CHttpClient::kErrorFailedInit, nullptr, *request);
        });
    }
}

} // namespace

CLoginClient::CLoginClient(CServerTable& table, std::shared_ptr<CTableGuard> guard,
                           IServerListView& list, std::shared_ptr<IWindowThread> window,
                           std::shared_ptr<IMessageBoxes> boxes, CLoginOptions options)
    : m_pShared(std::make_shared<CShared>(table, std::move(guard), list, std::move(window),
                                          std::move(boxes), options)) {}

CLoginClient::~CLoginClient() {
    // Logins still queued are not started: their window is going. Those under way end on their
    // own, with nowhere to report.
    std::deque<std::shared_ptr<LoginRequest>> dropped;
    {
        std::lock_guard lock(m_pShared->queueMutex);
        dropped.swap(m_pShared->queue);
    }
    m_pShared->nRunning -= dropped.size();
}

std::size_t CLoginClient::RunningLogins() const {
    return m_pShared->nRunning;
}

void CLoginClient::Login(std::vector<CLoginTarget> targets, std::u16string userName,
                         std::u16string password, EFailureBoxes boxes, COnOutcome onOutcome) {
    if (targets.empty()) {
        return;
    }
    auto press = std::make_shared<CLoginPress>();
    press->nUnfinished = targets.size();
    press->bBoxes = boxes == EFailureBoxes::FirstThenSummary;
    press->onOutcome = std::move(onOutcome);
    m_pShared->nRunning += targets.size();
    {
        std::lock_guard lock(m_pShared->queueMutex);
        for (CLoginTarget& target : targets) {
            m_pShared->queue.push_back(std::make_shared<LoginRequest>(
                LoginRequest{std::move(target), userName, password, kBody, m_pShared, press}));
        }
    }
    StartWorkers(m_pShared);
}
