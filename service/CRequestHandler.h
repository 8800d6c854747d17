// Reads the one HTTP/1.0 request of an accepted connection and answers it: GET serves a file
// of the served folder, POST "/Query" the storage server list, POST "/UpdateAdminPasswd?" the
// password update, after the Basic credentials of the request (if any) have been tested.
// Socket failures are thrown as CBlockingSocketException; the caller logs them and closes.
#pragma once

#include "service/CHttpBlockingSocket.h"
#include "service/CServiceContext.h"

#include <netinet/in.h>
#include <string>
#include <string_view>

class CRequestHandler {
public:
    static constexpr std::size_t kTransferSize = 5000;

    CRequestHandler(CHttpBlockingSocket& socket, const sockaddr_in& peer,
                    const CServiceContext& context);

    // Answers true when a response was sent (the caller then closes gracefully).
    bool Run();

private:
    bool ServeGet(std::string_view path);
    bool ServePost(std::string_view path);
    bool ServeQuery(const std::string& userName);
    bool ServePasswordUpdate(std::string_view key);
    std::string_view ReadBodyLine(bool bSecret);
    void LogLine(std::string_view line) const;

    CHttpBlockingSocket& m_socket;
    const sockaddr_in m_peer;
    const CServiceContext& m_context;
    CHttpBlockingSocket::LineBuffer m_requestLine{};
    CHttpBlockingSocket::LineBuffer m_headerLine{};
};
