// The login requests: the request to the storage server, the record it updates and the outcome
// it tells, as jobs of the shared login pool.
#include "storage/CLoginClient.h"

#include "platform/http/CHttpClient.h"
#include "platform/text/Base64.h"
#include "platform/text/TextConv.h"

#include <atomic>
#include <string>
#include <utility>

struct CLoginClient::CShared {
    CShared(CServerTable& table, std::shared_ptr<CTableGuard> pGuard, CLoginOptions options)
        : table(table), pGuard(std::move(pGuard)), options(options) {}

    CServerTable& table;
    std::shared_ptr<CTableGuard> pGuard;
    CLoginOptions options;
    std::atomic<std::size_t> nRunning{0};
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

// What one Login call's logins share.
struct CLoginRequest {
    std::u16string strUserName;
    std::u16string strPassword;
    CLoginClient::COnOutcome onOutcome;
    std::shared_ptr<CLoginClient::CShared> pShared;
};

// One login of a request.
struct CLogin {
    CLoginTarget target;
    std::shared_ptr<const CLoginRequest> pRequest;
};

const std::u16string& UserNameOf(const CLogin& login) {
    const auto& own = login.target.credentials;
    return own ? own->strUserName : login.pRequest->strUserName;
}

const std::u16string& PasswordOf(const CLogin& login) {
    const auto& own = login.target.credentials;
    return own ? own->strPassword : login.pRequest->strPassword;
}

// The servers take one byte per character of "user:password": its low 8 bits.
std::string BasicCredentials(const CLogin& login) {
    const std::u16string text = UserNameOf(login) + u":" + PasswordOf(login);
    std::string bytes;
    bytes.reserve(text.size());
    for (const char16_t c : text) {
        bytes.push_back(static_cast<char>(c & kLow8Bits));
    }
    return Base64Encode(bytes);
}

CHttpRequest HttpRequestFor(const CLogin& login) {
    const CLoginOptions& options = login.pRequest->pShared->options;
    CHttpRequest http;
    http.strHost = Utf16ToUtf8(login.target.strIP);
    http.nPort = options.nPort;
    http.strPath = CLoginOptions::kServerApiPath;
    http.listHeaders = {kAuthorization + BasicCredentials(login), kContentType};
    http.strBody = kBody;
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

// What the record of the login's array says after it: whether a successful login was stored
// (false when the record is gone, swept or freed at shutdown, or now lives at another address
// than the login went to), and whether the record holds credentials. A login that named another
// address binds the record there on success.
struct CStored {
    bool bStored = false;
    bool bAuthorized = false;
};

// How a login ended: with an HTTP status, or with a client error (bAnswered false).
struct CEnding {
    bool bAnswered = false;
    long nCode = 0; // the status, or libcurl's error number
    bool IsOk() const { return bAnswered && nCode == kStatusOk; }
};

CServerData* RecordOf(CLoginClient::CShared& shared, const CLoginTarget& target) {
    if (!shared.pGuard->m_bTablesAlive || target.strMAC.empty()) {
        return nullptr;
    }
    return shared.table.Find(target.strMAC);
}

ELoginResult ResultOf(const CEnding& ending, bool bStored) {
    if (!ending.bAnswered) {
        return ELoginResult::TransportError;
    }
    switch (ending.nCode) {
    case kStatusOk:
        return bStored ? ELoginResult::Succeeded : ELoginResult::Superseded;
    case kStatusUnauthorized:
        return ELoginResult::Refused;
    case kStatusNotFound:
        return ELoginResult::NotSupported;
    default:
        return ELoginResult::HttpStatus;
    }
}

// The record's own part of a successful login at its address.
bool StoreOn(CServerData& record, const CLogin& login, const std::string& body) {
    const CLoginTarget& target = login.target;
    const std::string address = Utf16ToUtf8(target.strIP);
    if (address != record.m_szIPAddr && !target.bRebind) {
        return false;
    }
    if (target.bRebind) {
        record.Rebind(address);
    }
    record.m_bKnown = true;
    record.m_bOnline = 1;
    record.SetLoginResponse(body);
    record.m_bAuthorized = 1;
    record.SetAuthorizedIP(address);
    record.SetLoginCredentials(UserNameOf(login), PasswordOf(login));
    return true;
}

// The record after the login: a 200 at its address stores the credentials, and every ending is
// noted for the operator (why the Auth cell says "No", since when it says "Yes").
CStored Conclude(const CLogin& login, const CEnding& ending, const std::string& body) {
    CLoginClient::CShared& shared = *login.pRequest->pShared;
    auto lock = shared.pGuard->LockExclusive();
    CServerData* record = RecordOf(shared, login.target);
    if (record == nullptr) {
        return {};
    }
    const bool bStored = ending.IsOk() && StoreOn(*record, login, body);
    const CLoginMark mark{ResultOf(ending, bStored), ending.nCode, shared.options.requestTimeout,
                          std::chrono::system_clock::now(), login.target.bRemembered};
    record->NoteLogin(mark, bStored);
    return {bStored, record->m_bAuthorized != 0};
}

CLoginOutcome OutcomeOf(const CLogin& login, const CEnding& ending, const CStored& stored) {
    const CLoginTarget& target = login.target;
    CLoginOutcome outcome{
        target.strMAC,     target.strIP, UserNameOf(login), ResultOf(ending, stored.bStored),
        ending.nCode,      {},           target.bKnown,     target.bRebind,
        stored.bAuthorized};
    outcome.requestTimeout = login.pRequest->pShared->options.requestTimeout;
    switch (outcome.eResult) {
    case ELoginResult::TransportError:
        outcome.strMessage = u"Internet Exception. (ErrorCode: " + Number(ending.nCode) + u")";
        break;
    case ELoginResult::Refused:
        outcome.strMessage = u"Authentication failed";
        break;
    case ELoginResult::NotSupported:
        outcome.strMessage = u"Not Support";
        break;
    case ELoginResult::HttpStatus:
        outcome.strMessage = u"Http Status Code: " + Number(ending.nCode);
        break;
    case ELoginResult::Succeeded:
    case ELoginResult::Superseded:
        break;
    }
    return outcome;
}

void Tell(const CLogin& login, const CLoginOutcome& outcome) {
    if (login.pRequest->onOutcome) {
        login.pRequest->onOutcome(outcome);
    }
    --login.pRequest->pShared->nRunning;
}

void RunLogin(const CLogin& login) {
    CHttpClient client;
    const CHttpResponse response = client.Post(HttpRequestFor(login));
    const CEnding ending{response.nError == 0,
                         response.nError == 0 ? response.nStatus : long{response.nError}};
    CLoginOutcome outcome = OutcomeOf(login, ending, Conclude(login, ending, response.strBody));
    outcome.bBodyCut = ending.IsOk() && response.bOverflow;
    Tell(login, outcome);
}

// A login that no worker could be started for fails like one whose request could not be set up.
void FailUnstarted(const CLogin& login) {
    const CEnding ending{false, CHttpClient::kErrorFailedInit};
    Tell(login, OutcomeOf(login, ending, Conclude(login, ending, {})));
}

} // namespace

CLoginClient::CLoginClient(CServerTable& table, std::shared_ptr<CTableGuard> guard,
                           std::shared_ptr<CLoginPool> pool, CLoginOptions options)
    : m_pShared(std::make_shared<CShared>(table, std::move(guard), options)),
      m_pPool(std::move(pool)) {}

CLoginClient::~CLoginClient() = default; // the tickets drop what is still queued

std::size_t CLoginClient::RunningLogins() const {
    return m_pShared->nRunning;
}

void CLoginClient::Login(std::vector<CLoginTarget> targets, std::u16string userName,
                         std::u16string password, COnOutcome onOutcome) {
    if (targets.empty()) {
        return;
    }
    std::erase_if(m_listTickets,
                  [](const CLoginPool::CTicket& ticket) { return !ticket.HasQueued(); });
    auto request = std::make_shared<const CLoginRequest>(
        CLoginRequest{std::move(userName), std::move(password), std::move(onOutcome), m_pShared});
    std::vector<CLoginPool::CJob> jobs;
    jobs.reserve(targets.size());
    for (CLoginTarget& target : targets) {
        jobs.emplace_back([login = CLogin{std::move(target), request}](CLoginPool::ERun run) {
            if (run == CLoginPool::ERun::OnWorker) {
                RunLogin(login);
            } else {
                FailUnstarted(login);
            }
        });
    }
    m_pShared->nRunning += jobs.size();
    m_listTickets.push_back(m_pPool->Submit(std::move(jobs)));
}
