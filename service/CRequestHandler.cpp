#include "service/CRequestHandler.h"

#include "platform/text/TextConv.h"
#include "platform/text/TextUtil.h"
#include "service/AdminPasswordUpdate.h"
#include "service/CCredentialService.h"
#include "service/CheckBasicCredentials.h"
#include "service/HttpResponses.h"
#include "service/OpenRequestedFile.h"
#include "service/SendFileResponse.h"
#include "service/ServerListDocument.h"
#include "service/ServiceLog.h"

#include <arpa/inet.h>
#include <chrono>
#include <ctime>
#include <limits>

namespace {

constexpr std::string_view kAuthorizationPrefix = "Authorization: Basic ";
constexpr std::string_view kContentLengthName = "Content-Length:";
constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kUpdatePrefix = "/UpdateAdminPasswd?";

} // namespace

CRequestHandler::CRequestHandler(CHttpBlockingSocket& socket, const sockaddr_in& peer,
                                 const CServiceContext& context)
    : m_socket(socket), m_peer(peer), m_context(context) {}

void CRequestHandler::LogLine(std::string_view line) const {
    m_context.m_log.LogConnection(g_nConnectionCount.load(), m_peer, line);
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
    // A client may not hold the thread by trickling bytes: the whole request has one deadline.
    m_socket.SetDeadline(std::chrono::steady_clock::now() +
                         std::chrono::milliseconds(m_context.m_options.nRequestDeadlineMs));
    const std::string_view line = m_socket.ReadHeaderLine(m_requestLine);
    LogLine(line);
    const std::size_t methodEnd = line.find(' ');
    if (methodEnd == std::string_view::npos) {
        return false;
    }
    const std::string_view method = line.substr(0, methodEnd);
    std::string_view path = line.substr(methodEnd + 1);
    const std::size_t pathEnd = path.find(' ');
    if (pathEnd == std::string_view::npos) {
        return false;
    }
    path = path.substr(0, pathEnd);
    if (EqualsNoCase(method, "GET")) {
        return ServeGet(path);
    }
    if (EqualsNoCase(method, "POST")) {
        return ServePost(path);
    }
    return false;
}

bool CRequestHandler::ServeGet(std::string_view path) {
    while (m_socket.ReadHeaderLine(m_headerLine) != "\r\n") {
    }
    if (EqualsNoCase(path, "/custom") || path.find('?') != std::string_view::npos) {
        return false;
    }
    const CUniqueFd file = m_context.m_docRootFd ? OpenRequestedFile(path, m_context.m_strDocRoot,
                                                                     m_context.m_docRootFd.Get())
                                                 : CUniqueFd();
    if (!file) {
        m_socket.Send(kNotFoundResponse.data(), kNotFoundResponse.size());
        return true;
    }
    SendFileResponse(file.Get(), std::time(nullptr),
                     [this](std::string_view piece) { m_socket.Send(piece.data(), piece.size()); });
    return true;
}

CRequestHandler::ECredentialCheck CRequestHandler::CheckCredentials(std::string_view encoded,
                                                                    std::string& userName) {
    const uint32_t address = ntohl(m_peer.sin_addr.s_addr);
    if (m_context.m_throttle.IsBlocked(address, m_context.Now())) {
        return ECredentialCheck::Refused;
    }
    int result = kCredentialsNoSuchUser;
    const bool bAlive = m_context.WithTablesShared([&](const COrvaneSrvCore& core) {
        result = CheckBasicCredentials(encoded, userName, core.m_mapUsers);
    });
    if (!bAlive) {
        return ECredentialCheck::TablesGone;
    }
    if (result == kCredentialsOk) {
        return ECredentialCheck::Accepted;
    }
    const std::string from = AddressText(m_peer);
    m_context.m_log.Write("OrvaneSrv: credentials refused for user \"" +
                          EscapeControlBytes(userName) + "\" from " + from + "\n");
    if (m_context.m_throttle.RecordFailure(address, m_context.Now())) {
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(m_context.m_options.failureWindow);
        m_context.m_log.Write("OrvaneSrv: " + from + " blocked after " +
                              std::to_string(m_context.m_options.nMaxFailedChecks) +
                              " failed credential checks within " +
                              std::to_string(seconds.count()) + " seconds\n");
    }
    return ECredentialCheck::Refused;
}

bool CRequestHandler::ServePost(std::string_view path) {
    std::string userName;
    for (;;) {
        const std::string_view line = m_socket.ReadHeaderLine(m_headerLine);
        if (line.starts_with(kAuthorizationPrefix)) {
            const ECredentialCheck check =
                CheckCredentials(line.substr(kAuthorizationPrefix.size()), userName);
            if (check == ECredentialCheck::TablesGone) {
                return false;
            }
            if (check == ECredentialCheck::Refused) {
                const std::string_view response = UnauthorizedResponse();
                m_socket.Send(response.data(), response.size());
                return true;
            }
        }
        if (const auto length = ContentLengthOf(line)) {
            m_nBodyLimit = *length;
        }
        if (line == "\r\n") {
            break;
        }
    }
    if (EqualsNoCase(path, "/Query")) {
        return ServeQuery(userName);
    }
    if (StartsWithNoCase(path, kUpdatePrefix)) {
        return ServePasswordUpdate(path.substr(kUpdatePrefix.size()));
    }
    std::string response = DocumentResponseHeader(std::time(nullptr));
    response += kNotFoundResponse;
    m_socket.Send(response.data(), response.size());
    return true;
}

std::string_view CRequestHandler::ReadBodyLine(bool bSecret) {
    const std::string_view line = m_socket.ReadHeaderLine(m_headerLine, m_nBodyLimit);
    m_socket.ClearDeadline();
    if (bSecret) {
        LogLine(MaskedLine(line));
    } else {
        LogLine(line);
    }
    return line;
}

bool CRequestHandler::ServeQuery(const std::string& userName) {
    ReadBodyLine(false);
    std::string response = DocumentResponseHeader(std::time(nullptr));
    // Composed under the guard, sent after it is released: no lock waits on the network.
    const bool bAlive = m_context.WithTablesShared(
        [&](const COrvaneSrvCore& core) { BuildServerListDocument(core, userName, response); });
    if (!bAlive) {
        return false;
    }
    m_socket.Send(response.data(), response.size());
    return true;
}

bool CRequestHandler::ServePasswordUpdate(std::string_view key) {
    const std::string_view password = ReadBodyLine(true);
    const std::string from = AddressText(m_peer);
    auto result = EPasswordUpdate::NoServer;
    std::string serverAddress;
    const bool bAlive = m_context.WithTablesExclusive([&](COrvaneSrvCore& core) {
        result = UpdateAdminPassword(core.m_mapServers, key, from, password);
        if (result == EPasswordUpdate::OtherAddress) {
            serverAddress = core.m_mapServers.Find(Utf8ToUtf16(key))->m_szIPAddr;
        }
    });
    if (!bAlive) {
        return false;
    }
    if (result == EPasswordUpdate::OtherAddress) {
        m_context.m_log.Write("OrvaneSrv: password update for " + EscapeControlBytes(key) +
                              " refused: it came from " + from + ", the server is at " +
                              EscapeControlBytes(serverAddress) + "\n");
    }
    std::string response = DocumentResponseHeader(std::time(nullptr));
    response += PasswordUpdateAnswer(result);
    m_socket.Send(response.data(), response.size());
    return true;
}
