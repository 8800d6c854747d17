// Reads the one HTTP/1.0 request of an accepted connection and answers it: GET serves a file
// of the served folder, POST "/Query" the storage server list, POST "/UpdateAdminPasswd?" the
// password update, after the Basic credentials of the request (if any) have been tested;
// "/Query" is answered only to a request whose credentials passed.
// Socket failures are thrown as CBlockingSocketException; the caller logs them and closes.
#pragma once

#include "service/CServiceContext.h"
#include "service/answers/AdminPasswordUpdate.h"
#include "service/http/DirectorySignIn.h"
#include "service/listener/CHttpBlockingSocket.h"

#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <string_view>

class CRequestHandler {
public:
    // ticket: the connection's place under the cap, settled once the headers are in; none
    // when the connection is not counted there.
    CRequestHandler(CHttpBlockingSocket& socket, const sockaddr_in& peer,
                    const CServiceContext& context, CConnectionSlots::CTicket* pTicket = nullptr);
    ~CRequestHandler();
    CRequestHandler(const CRequestHandler&) = delete;
    CRequestHandler& operator=(const CRequestHandler&) = delete;

    // Answers true when a response was sent (the caller then closes gracefully).
    bool Run();

    // The value of a "Content-Length:" header line (name in any letter case, decimal digits
    // with blanks or tabs around them; too large a value saturates); nothing for any other
    // line and for a value that is not a plain decimal number.
    static std::optional<std::size_t> ContentLengthOf(std::string_view headerLine);
    // After Run: whether the request was read through its end (the headers to the blank line
    // and the body the service reads), so that the client has nothing more to send.
    bool ReadToEnd() const { return m_bReadToEnd; }

private:
    bool ServeGet(std::string_view path);
    bool ServePost(std::string_view path);
    enum class ECredentialCheck { Accepted, Refused, Throttled, TablesGone };
    // Tests an Authorization value unless the throttle refuses it unchecked (Throttled, with
    // m_retryAfter set); logs a failure with the user name tried, and the moment the address
    // becomes blocked or the name slowed. Once the tables are gone (the service is stopping)
    // nothing was checked: that is neither a refusal nor a guess.
    ECredentialCheck CheckCredentials(std::string_view encoded, std::string& userName);
    // The directory's part of a check: a name that no local user has. Answers kCredentialsOk or
    // kCredentialsWrongPassword, or kCredentialsNoSuchUser when the directory does not answer
    // usefully (not a guess, so the throttle does not count it); the identity is kept in
    // m_directoryUser.
    int CheckDirectoryCredentials(std::string_view encoded, const std::string& userName,
                                  uint64_t& generation, bool& bAlive);
    // Keeps the credentials that passed, with the generation of the tables they passed in.
    void KeepCredentials(std::string_view encoded, uint64_t generation);
    bool ServeQuery(const std::string& userName);
    // "/Query" on the plain port when it is answered over TLS only: the not-found document.
    bool RefusePlainQuery();
    bool SendNotFoundDocument();
    // Sends the 401 response with the wait in m_retryAfter; answers true.
    bool SendThrottled();
    // Sends a whole response after the log lines held so far; answers true.
    bool Answer(std::string_view response);
    bool ServePasswordUpdate(std::string_view key);
    // Refusals go to the audit trail through its per-address summary; the address is added.
    void AuditRefusal(CAuditRecord& record) const;
    void AuditRefusal(CAuditRecord&& record) const { AuditRefusal(record); }
    void AuditPush(std::string_view key, EPasswordUpdate result,
                   std::string_view authorizedAt) const;
    // Says in the service log, once each time, that the trail became full.
    void LogIfAuditFull() const;
    std::string_view ReadBodyLine(bool bSecret);
    // Moves the deadline from the headers' to the whole request's, and settles the ticket.
    void EndOfHeaders();
    // Entries wait in m_pendingLog until the next flush, so that the lines of one request reach
    // the log in a single write; whatever is left goes when the handler ends.
    void HoldLogLine(std::string_view line);
    void LogLine(std::string_view line);
    void Log(std::string_view entry);
    void FlushLog();

    CHttpBlockingSocket& m_socket;
    const sockaddr_in m_peer;
    const CServiceContext& m_context;
    CConnectionSlots::CTicket* const m_pTicket;
    std::chrono::steady_clock::time_point m_start; // when the request began to be read
    CHttpBlockingSocket::LineBuffer m_requestLine{};
    CHttpBlockingSocket::LineBuffer m_headerLine{};
    // Where the body line ends without a line feed: the announced body length, if any.
    std::size_t m_nBodyLimit = CHttpBlockingSocket::kNoLimit;
    bool m_bReadToEnd = false;
    std::string m_pendingLog;
    // How long the throttle wants a refused client to wait.
    std::chrono::steady_clock::duration m_retryAfter{};
    // The credentials that passed, kept (in place: no allocation on the way of every "/Query")
    // to be checked again if the tables change before the answer is composed; wiped at the end.
    CHttpBlockingSocket::LineBuffer m_credentials{};
    std::size_t m_nCredentialBytes = 0;
    uint64_t m_credentialsGeneration = 0;
    // Set when the credentials that passed are a directory user's.
    std::optional<CDirectoryIdentity> m_directoryUser;
    bool m_bDirectoryDown = false; // the last check found the directory not answering
};
