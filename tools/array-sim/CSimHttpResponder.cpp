#include "tools/array-sim/CSimHttpResponder.h"

#include "platform/text/Base64.h"
#include "platform/text/TextUtil.h"

#include <charconv>
#include <optional>

namespace {

const char* Reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Payload Too Large";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

std::string Response(int status, std::string_view body, std::string_view extraHeaders = {}) {
    std::string response = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    response += "Content-Type: text/plain\r\n";
    response += extraHeaders;
    response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    response += "Connection: close\r\n\r\n";
    response += body;
    return response;
}

struct Request {
    std::string method;
    std::string path;
    std::optional<std::string> authorization; // the value after "Basic "
    std::string body;
};

// nullopt while the request is incomplete.
std::optional<Request> ParseRequest(std::string_view received, bool& malformed) {
    std::size_t headerEnd = received.find("\r\n\r\n");
    std::size_t separator = 4;
    if (headerEnd == std::string_view::npos) {
        headerEnd = received.find("\n\n");
        separator = 2;
    }
    if (headerEnd == std::string_view::npos) {
        malformed = received.size() > 65536;
        return std::nullopt;
    }
    std::string_view head = received.substr(0, headerEnd);
    Request request;
    std::size_t contentLength = 0;
    std::size_t lineStart = 0;
    bool first = true;
    while (lineStart <= head.size()) {
        std::size_t lineEnd = head.find('\n', lineStart);
        std::string_view line =
            Trim(head.substr(lineStart, lineEnd == std::string_view::npos ? std::string_view::npos
                                                                          : lineEnd - lineStart));
        if (first) {
            std::size_t space = line.find(' ');
            std::size_t second = line.find(' ', space + 1);
            if (space == std::string_view::npos) {
                malformed = true;
                return std::nullopt;
            }
            request.method = std::string(line.substr(0, space));
            request.path = std::string(line.substr(space + 1, second == std::string_view::npos
                                                                  ? std::string_view::npos
                                                                  : second - space - 1));
            first = false;
        } else if (std::size_t colon = line.find(':'); colon != std::string_view::npos) {
            std::string name = AsciiLower(Trim(line.substr(0, colon)));
            std::string_view value = Trim(line.substr(colon + 1));
            if (name == "content-length") {
                auto [end, error] =
                    std::from_chars(value.data(), value.data() + value.size(), contentLength);
                if (error != std::errc() || contentLength > CSimHttpResponder::kMaxRequest) {
                    malformed = true;
                    return std::nullopt;
                }
            } else if (name == "authorization" && AsciiLower(value.substr(0, 6)) == "basic ") {
                request.authorization = std::string(Trim(value.substr(6)));
            }
        }
        if (lineEnd == std::string_view::npos) {
            break;
        }
        lineStart = lineEnd + 1;
    }
    std::size_t bodyStart = headerEnd + separator;
    if (received.size() < bodyStart + contentLength) {
        return std::nullopt;
    }
    request.body = std::string(received.substr(bodyStart, contentLength));
    return request;
}

std::string OkBody(const CArrayConfig& array) {
    if (!array.m_strBody.empty()) {
        return array.m_strBody;
    }
    return "result=0&mac=" + array.Attribute("mac").value_or("") +
           "&hostname=" + array.Attribute("hostname").value_or("") + "\n";
}

} // namespace

CSimHttpResponder::Result CSimHttpResponder::Handle(const CArrayConfig& array,
                                                    std::string_view received) {
    bool malformed = false;
    std::optional<Request> request = ParseRequest(received, malformed);
    if (malformed) {
        return {State::Respond, Response(400, "malformed request\n")};
    }
    if (!request) {
        return {State::NeedMore, {}};
    }
    if (array.m_httpMode == SimHttpMode::Silent) {
        return {State::Ignore, {}};
    }
    if (array.m_httpMode == SimHttpMode::NotFound || request->path != kApiPath) {
        return {State::Respond, Response(404, "not found\n")};
    }
    if (request->method != "POST") {
        return {State::Respond, Response(405, "POST only\n")};
    }
    std::string expected = array.m_strAdminUser + ":" + array.m_strAdminPassword;
    if (!request->authorization || Base64Decode(*request->authorization) != expected) {
        return {State::Respond, Response(401, "authentication failed\n",
                                         "WWW-Authenticate: Basic realm=\"array\"\r\n")};
    }
    if (request->body != kQueryBody) {
        return {State::Respond, Response(400, "unknown operation\n")};
    }
    switch (array.m_httpMode) {
    case SimHttpMode::Status:
        return {State::Respond, Response(array.m_nHttpStatus, "status by request\n")};
    case SimHttpMode::Oversize:
        return {State::Respond, Response(200, std::string(kOversizeBody, 'x'))};
    default:
        return {State::Respond, Response(200, OkBody(array))};
    }
}
