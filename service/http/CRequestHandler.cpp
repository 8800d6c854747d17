#include "service/http/CRequestHandler.h"

#include "core/audit/AuditRecords.h"
#include "platform/text/TextConv.h"
#include "platform/text/TextUtil.h"
#include "service/CCredentialService.h"
#include "service/ServiceLogText.h"
#include "service/answers/AdminPasswordUpdate.h"
#include "service/answers/QueryAnswer.h"
#include "service/answers/ServerListDocument.h"
#include "service/http/CheckBasicCredentials.h"
#include "service/http/HttpResponses.h"
#include "service/http/OpenRequestedFile.h"
#include "service/http/SendFileResponse.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <ctime>
#include <limits>

namespace {

constexpr std::string_view kAuthorizationPrefix = "Authorization: Basic ";
constexpr std::string_view kContentLengthName = "Content-Length:";
constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kUpdatePrefix = "/UpdateAdminPasswd?";

// A file response goes straight to the connection.
class CSocketFileSink : public IFileSink {
public:
    explicit CSocketFileSink(CBlockingSocket& socket) : m_socket(socket) {}
    void Send(std::string_view bytes, bool bMore) override {
        m_socket.Send(bytes.data(), bytes.size(), bMore);
    }
    uint64_t SendFile(int fd, uint64_t offset, uint64_t nBytes) override {
        return m_socket.SendFile(fd, offset, nBytes);
    }

private:
    CBlockingSocket& m_socket;
};

} // namespace

CRequestHandler::CRequestHandler(CHttpBlockingSocket& socket, const sockaddr_in& peer,
                                 const CServiceContext& context, CConnectionSlots::CTicket* pTicket)
    : m_socket(socket), m_peer(peer), m_context(context), m_pTicket(pTicket) {}

CRequestHandler::~CRequestHandler() {
    ::explicit_bzero(m_credentials.data(), m_nCredentialBytes);
    try {
        FlushLog();
    } catch (...) {
        // Out of memory while logging: the entries are lost, the connection still ends.
    }
}

void CRequestHandler::HoldLogLine(std::string_view line) {
    m_pendingLog +=
        ComposeConnectionEntry(g_nConnectionCount.load(), m_peer, line, std::time(nullptr));
}

void CRequestHandler::LogLine(std::string_view line) {
    HoldLogLine(line);
    FlushLog();
}

void CRequestHandler::Log(std::string_view entry) {
    m_pendingLog += StampProgramLine(entry, std::chrono::system_clock::now());
    FlushLog();
}

void CRequestHandler::FlushLog() {
    if (!m_pendingLog.empty()) {
        m_context.m_log.Write(m_pendingLog);
        m_pendingLog.clear();
    }
}

std::optional<std::size_t> CRequestHandler::ContentLengthOf(std::string_view headerLine) {
    if (!StartsWithNoCase(headerLine, kContentLengthName)) {
        return std::nullopt;
    }
    std::string_view value = headerLine.substr(kContentLengthName.size());
    value = value.substr(0, value.find_last_not_of(kLineEnd) + 1);
    const std::size_t first = value.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    value = value.substr(first, value.find_last_not_of(kBlanks) + 1 - first);
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    constexpr std::size_t kBase = 10;
    std::size_t n = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::size_t>(c - '0');
        n = n > (kMax - digit) / kBase ? kMax : n * kBase + digit;
    }
    return n;
}

bool CRequestHandler::Run() {
    // A client may not hold the thread by trickling bytes: the request line and headers have a
    // deadline, and the whole request a later one.
    m_start = std::chrono::steady_clock::now();
    const CServiceOptions& options = m_context.m_options;
    m_socket.SetDeadline(m_start + std::chrono::milliseconds(std::min(options.nHeaderDeadlineMs,
                                                                      options.nRequestDeadlineMs)));
    const std::string_view line = m_socket.ReadHeaderLine(m_requestLine);
    // A POST's request line goes out with its body line (or whatever else its request logs) in
    // one write; any other request's at once.
    HoldLogLine(line);
    const std::size_t methodEnd = line.find(' ');
    const std::string_view method = line.substr(0, methodEnd);
    if (!EqualsNoCase(method, "POST")) {
        FlushLog();
    }
    if (methodEnd == std::string_view::npos) {
        return false;
    }
    std::string_view path = line.substr(methodEnd + 1);
    const std::size_t pathEnd = path.find(' ');
    if (pathEnd == std::string_view::npos) {
        return false;
    }
    path = path.substr(0, pathEnd);
    if (EqualsNoCase(method, "POST")) {
        return ServePost(path);
    }
    if (EqualsNoCase(method, "GET")) {
        return ServeGet(path);
    }
    return false;
}

void CRequestHandler::EndOfHeaders() {
    m_socket.SetDeadline(m_start +
                         std::chrono::milliseconds(m_context.m_options.nRequestDeadlineMs));
    // The client has said what it wants: it is served, not closed for a newer connection.
    if (m_pTicket != nullptr) {
        m_pTicket->Settle();
    }
}

bool CRequestHandler::ServeGet(std::string_view path) {
    bool bBodyAnnounced = false;
    for (std::string_view line; (line = m_socket.ReadHeaderLine(m_headerLine)) != "\r\n";) {
        bBodyAnnounced = bBodyAnnounced || ContentLengthOf(line).value_or(0) > 0;
    }
    EndOfHeaders();
    // A GET's body is never read.
    m_bReadToEnd = !bBodyAnnounced;
    if (EqualsNoCase(path, "/custom") || path.find('?') != std::string_view::npos) {
        return false;
    }
    const CUniqueFd file = m_context.m_docRootFd ? OpenRequestedFile(path, m_context.m_strDocRoot,
                                                                     m_context.m_docRootFd.Get())
                                                 : CUniqueFd();
    if (!file) {
        return Answer(kNotFoundResponse);
    }
    CSocketFileSink sink(m_socket);
    SendFileResponse(file.Get(), std::time(nullptr), sink);
    return true;
}

CRequestHandler::ECredentialCheck CRequestHandler::CheckCredentials(std::string_view encoded,
                                                                    std::string& userName) {
    const uint32_t address = ntohl(m_peer.sin_addr.s_addr);
    const std::string name = BasicUserName(encoded);
    CLoginThrottle& throttle = m_context.m_throttle;
    const CLoginThrottle::CAdmission admission = throttle.Admit(address, name, m_context.Now());
    if (admission != CLoginThrottle::EAdmit::Check) {
        AuditRefusal(ThrottledRecord(name, admission == CLoginThrottle::EAdmit::AddressBlocked));
        m_retryAfter = admission.retryAfter;
        return ECredentialCheck::Throttled;
    }
    int result = kCredentialsNoSuchUser;
    uint64_t generation = 0;
    bool bAlive = false;
    bool bDirectoryAsked = false;
    m_directoryUser.reset();
    m_bDirectoryDown = false;
    try {
        bAlive = m_context.WithTablesSharedAt([&](const CTablesView& tables, uint64_t at) {
            result = CheckBasicCredentials(encoded, userName, tables.users);
            generation = at;
        });
        // Local users come first: the directory is asked only about a name that none has.
        if (bAlive && result == kCredentialsNoSuchUser && !userName.empty() &&
            HasDirectory(m_context)) {
            bDirectoryAsked = true;
            result = CheckDirectoryCredentials(encoded, userName, generation, bAlive);
        }
    } catch (...) {
        // An admitted attempt always ends, or the ones waiting behind it would wait in vain.
        throttle.Finish(address, name, true, m_context.Now());
        throw;
    }
    if (!bAlive) {
        throttle.Finish(address, name, false, m_context.Now());
        return ECredentialCheck::TablesGone;
    }
    // A directory that does not answer is no guess of the client's: it is not counted.
    const bool bFailed = result != kCredentialsOk && !m_bDirectoryDown;
    const CLoginThrottle::CFailureNews news =
        throttle.Finish(address, name, bFailed, m_context.Now());
    if (result == kCredentialsOk) {
        KeepCredentials(encoded, generation);
        return ECredentialCheck::Accepted;
    }
    if (m_bDirectoryDown) {
        // Logged once per outage, not once per request.
        return ECredentialCheck::Refused;
    }
    if (!bDirectoryAsked) {
        AuditRefusal(CredentialsRefusedRecord(userName));
    }
    const CServiceOptions& options = m_context.m_options;
    const std::string from = AddressText(m_peer);
    const std::string window =
        std::to_string(
            std::chrono::duration_cast<std::chrono::seconds>(options.failureWindow).count()) +
        " seconds\n";
    Log("OrvaneSrv: credentials refused for user \"" + EscapeForLog(userName) + "\" from " + from +
        "\n");
    if (news.bAddressBlocked) {
        Log("OrvaneSrv: " + from + " blocked after " + std::to_string(options.nMaxFailedChecks) +
            " failed credential checks within " + window);
    }
    if (news.bNameSlowed) {
        Log("OrvaneSrv: checks for user \"" + EscapeForLog(name) +
            "\" from the addresses that failed it slowed down to one every " +
            std::to_string(options.nameCheckInterval.count()) + " ms after " +
            std::to_string(options.nMaxFailedChecksPerName) + " failed credential checks within " +
            window);
    }
    return ECredentialCheck::Refused;
}

int CRequestHandler::CheckDirectoryCredentials(std::string_view encoded,
                                               const std::string& userName, uint64_t& generation,
                                               bool& bAlive) {
    CDirectoryCheck check = CheckDirectoryUser(m_context, encoded, userName);
    if (!check.news.empty()) {
        m_context.m_log.Note(check.news + "\n");
    }
    switch (check.result) {
    case EDirectoryCheck::TablesGone:
        bAlive = false;
        return kCredentialsNoSuchUser;
    case EDirectoryCheck::Unavailable:
        m_bDirectoryDown = true;
        AuditRefusal(DirectoryRefusedRecord(userName, check.reason));
        return kCredentialsNoSuchUser;
    case EDirectoryCheck::Refused:
    case EDirectoryCheck::NotMapped:
        AuditRefusal(DirectoryRefusedRecord(userName, check.reason));
        return kCredentialsWrongPassword;
    case EDirectoryCheck::Accepted:
        break;
    }
    if (!check.bCached && m_context.m_pAudit) {
        std::string groups;
        for (const std::u16string& group : check.identity.mapped) {
            groups += (groups.empty() ? "" : ",") + Utf16ToUtf8(group);
        }
        m_context.m_pAudit->Write(DirectorySignInRecord(userName, check.identity.dn, groups));
        LogIfAuditFull();
    }
    generation = check.generation;
    m_directoryUser = std::move(check.identity);
    return kCredentialsOk;
}

void CRequestHandler::KeepCredentials(std::string_view encoded, uint64_t generation) {
    // A header line fits its buffer, so its value fits this one.
    const std::size_t nBytes = std::min(encoded.size(), m_credentials.size());
    ::explicit_bzero(m_credentials.data(), m_nCredentialBytes);
    std::copy_n(encoded.data(), nBytes, m_credentials.data());
    m_nCredentialBytes = nBytes;
    m_credentialsGeneration = generation;
}

void CRequestHandler::AuditRefusal(CAuditRecord& record) const {
    if (m_context.m_pAudit) {
        const std::string from = AddressText(m_peer);
        record.Add("address", from);
        m_context.m_pAudit->WriteRefusal(record, from);
        LogIfAuditFull();
    }
}

void CRequestHandler::LogIfAuditFull() const {
    // Said once each time: the trail's own record and orvanectl status say it too.
    if (!m_context.m_pAudit->TakeFullNotice()) {
        return;
    }
    const auto full = m_context.m_pAudit->Full();
    m_context.m_log.Note(
        "OrvaneSrv: audit trail full: " + m_context.m_pAudit->File().string() +
        " reached its size limit while the oldest file kept is younger than a day; further "
        "records are summarised per event, user and address each minute" +
        (full ? " until " + CAuditRecord::TimeText(full->until) : std::string()) + "\n");
}

void CRequestHandler::AuditPush(std::string_view key, EPasswordUpdate result,
                                std::string_view authorizedAt) const {
    if (!m_context.m_pAudit) {
        return;
    }
    if (result == EPasswordUpdate::Done) {
        m_context.m_pAudit->Write(PushAcceptedRecord(key, AddressText(m_peer)));
        LogIfAuditFull();
        return;
    }
    CAuditRecord record = PushRefusedRecord(key, RefusedUpdateReason(result, authorizedAt));
    AuditRefusal(record);
}

bool CRequestHandler::Answer(std::string_view response) {
    FlushLog();
    m_socket.Send(response.data(), response.size());
    return true;
}

bool CRequestHandler::SendThrottled() {
    // Rounded up: a client that waits exactly that long finds the block over.
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(m_retryAfter);
    return Answer(ThrottledResponse(seconds.count()));
}

bool CRequestHandler::ServePost(std::string_view path) {
    if (m_context.m_options.bHttpsOnlyQuery && !m_socket.HasTls() && EqualsNoCase(path, "/Query")) {
        return RefusePlainQuery();
    }
    std::string userName;
    bool bAuthenticated = false;
    for (;;) {
        const std::string_view line = m_socket.ReadHeaderLine(m_headerLine);
        if (line.starts_with(kAuthorizationPrefix)) {
            const ECredentialCheck check =
                CheckCredentials(line.substr(kAuthorizationPrefix.size()), userName);
            if (check == ECredentialCheck::TablesGone) {
                return false;
            }
            if (check == ECredentialCheck::Refused) {
                return Answer(UnauthorizedResponse());
            }
            if (check == ECredentialCheck::Throttled) {
                return SendThrottled();
            }
            bAuthenticated = true;
        }
        if (const auto length = ContentLengthOf(line)) {
            m_nBodyLimit = *length;
        }
        if (line == "\r\n") {
            break;
        }
    }
    EndOfHeaders();
    if (EqualsNoCase(path, "/Query")) {
        // The list holds administrator passwords: it is only ever handed to a named user.
        return bAuthenticated ? ServeQuery(userName) : Answer(UnauthorizedResponse());
    }
    if (StartsWithNoCase(path, kUpdatePrefix)) {
        return ServePasswordUpdate(path.substr(kUpdatePrefix.size()));
    }
    return SendNotFoundDocument();
}

bool CRequestHandler::RefusePlainQuery() {
    // Its credentials are neither checked nor counted: the client is told nothing about them.
    while (m_socket.ReadHeaderLine(m_headerLine) != "\r\n") {
    }
    EndOfHeaders();
    Log("OrvaneSrv: \"/Query\" over plain HTTP from " + AddressText(m_peer) +
        " refused: it is answered over TLS only\n");
    return SendNotFoundDocument();
}

bool CRequestHandler::SendNotFoundDocument() {
    return Answer(DocumentResponseHeader(std::time(nullptr)).append(kNotFoundResponse));
}

std::string_view CRequestHandler::ReadBodyLine(bool bSecret) {
    const std::string_view line = m_socket.ReadHeaderLine(m_headerLine, m_nBodyLimit);
    m_socket.ClearDeadline();
    // The body is one line: it ends with the announced length, or without one at its line feed.
    m_bReadToEnd = m_nBodyLimit == CHttpBlockingSocket::kNoLimit ? line.ends_with('\n')
                                                                 : line.size() >= m_nBodyLimit;
    if (bSecret) {
        LogLine(MaskedLine(line));
    } else {
        LogLine(line);
    }
    return line;
}

bool CRequestHandler::ServeQuery(const std::string& userName) {
    ReadBodyLine(false);
    const CQueryAnswer query = QueryAnswer(m_context, userName,
                                           {{m_credentials.data(), m_nCredentialBytes},
                                            m_credentialsGeneration,
                                            m_directoryUser ? &*m_directoryUser : nullptr});
    if (query.bCredentialsChanged) {
        AuditRefusal(CredentialsRefusedRecord(userName));
        Log("OrvaneSrv: credentials refused for user \"" + EscapeForLog(userName) + "\" from " +
            AddressText(m_peer) + ": the user changed while the request was read\n");
        return Answer(UnauthorizedResponse());
    }
    const std::shared_ptr<const CCachedQuery>& answer = query.answer;
    if (!answer) {
        return false;
    }
    // The page tells an empty list after a restart from one that the groups leave empty.
    const std::string header =
        DocumentResponseHeader(std::time(nullptr), m_context.m_pSealPending->load());
    m_socket.SendBoth(header, answer->body);
    if (m_context.m_pAudit) {
        const CServedServers& served = answer->served;
        // A client asking again for the same answer is counted, not written again.
        m_context.m_pAudit->WriteHandOut(
            {.address = AddressText(m_peer),
             .user = userName,
             .bAdmin = served.bAdmin,
             .macs = served.macs,
             .ips = served.ips,
             .generation = answer->generation,
             .dn = m_directoryUser ? m_directoryUser->dn : std::string_view()});
        LogIfAuditFull();
    }
    return true;
}

bool CRequestHandler::ServePasswordUpdate(std::string_view key) {
    const std::string_view password = ReadBodyLine(true);
    const std::string from = AddressText(m_peer);
    auto result = EPasswordUpdate::NoServer;
    std::string authorizedAt;
    const bool bAlive = m_context.WithServersExclusive([&](CServerTable& servers) {
        result = UpdateAdminPassword(servers, key, from, password);
        if (result == EPasswordUpdate::OtherAddress) {
            authorizedAt = servers.Find(Utf8ToUtf16(key))->m_szAuthorizedIP;
        }
    });
    if (!bAlive) {
        return false;
    }
    if (result != EPasswordUpdate::Done) {
        Log(RefusedUpdateLogLine(key, from, result, authorizedAt));
    }
    AuditPush(key, result, authorizedAt);
    return Answer(DocumentResponseHeader(std::time(nullptr)).append(PasswordUpdateAnswer(result)));
}
