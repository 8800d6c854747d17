#include "service/http/HttpResponses.h"

#include <cstdio>

namespace {

// A served file is shown as the type it is sent as and never inside another site's frame.
constexpr std::string_view kFileSafetyHeaders =
    "X-Content-Type-Options: nosniff\r\n"
    "X-Frame-Options: DENY\r\n"
    "Content-Security-Policy: frame-ancestors 'none'\r\n";

constexpr std::string_view kUnauthorizedBody =
    "<html><head><title>401 Unauthorized</title></head>"
    "<body><h1>HTTP/1.0 401 Unauthorized</h1>"
    "<p>The user name or password was not accepted.</p></body></html>\r\n";

// extraHeaders: whole header lines, each ending in CR LF.
std::string MakeUnauthorizedResponse(std::string_view extraHeaders) {
    std::string response = "HTTP/1.0 401 Unauthorized\r\n"
                           "Server: Orvane2.0 Management Server\r\n"
                           "Content-Type: text/html\r\n"
                           "Accept-Ranges: bytes\r\n"
                           "Content-Length: ";
    response += std::to_string(kUnauthorizedBody.size());
    response += "\r\n";
    response += extraHeaders;
    response += "\r\n";
    response += kUnauthorizedBody;
    return response;
}

} // namespace

std::string_view UnauthorizedResponse() {
    // Connection threads may still be sending it while the process exits: the text outlives
    // the destructors that run at exit (a union member is not destroyed with its union).
    union CLasting {
        std::string text;
        CLasting() : text(MakeUnauthorizedResponse({})) {}
        ~CLasting() {}
    };
    static const CLasting response;
    return response.text;
}

std::string ThrottledResponse(int64_t nRetryAfterSeconds) {
    // A delay is a whole, non-negative number of seconds; a client told 0 would retry at once.
    const int64_t nSeconds = nRetryAfterSeconds > 0 ? nRetryAfterSeconds : 1;
    return MakeUnauthorizedResponse("Retry-After: " + std::to_string(nSeconds) + "\r\n");
}

std::string HttpDateText(std::time_t now) {
    // The C library converts under a process-wide lock; a thread rarely needs a new second.
    thread_local std::time_t cachedAt = -1;
    thread_local std::string cached;
    if (now == cachedAt) {
        return cached;
    }
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT",
                                kDays[tm.tm_wday % 7], tm.tm_mday, kMonths[tm.tm_mon % 12],
                                tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    cachedAt = now;
    cached.assign(text, static_cast<std::size_t>(n > 0 ? n : 0));
    return cached;
}

std::string FileResponseHeader(std::time_t now, int64_t nLength) {
    std::string header = "HTTP/1.0 200 OK\r\n"
                         "Server: Orvane2.0 Management Server\r\n"
                         "Date: ";
    header += HttpDateText(now);
    header += "\r\nContent-Type: text/html\r\n"
              "Accept-Ranges: bytes\r\n";
    header += kFileSafetyHeaders;
    header += "Content-Length: ";
    header += std::to_string(nLength);
    // The Last-Modified text is fixed, not the file's time; it brings the blank line.
    header += "\r\nLast-Modified: Fri, 20100101 GMT\r\n\r\n";
    return header;
}

std::string DocumentResponseHeader(std::time_t now, std::size_t nVerifying) {
    std::string header = "HTTP/1.0 200 OK\r\n"
                         "Server: Orvane2.0 Management Server\r\n"
                         "Content-Type: text/xml\r\n"
                         "Expires: Mon, 26 Jul 1997 05:00:00 GMT\r\n"
                         "Last-Modified: ";
    header += HttpDateText(now);
    header += "\r\nCache-Control: no-store, no-cache, must-revalidate\r\n"
              "Pragma: no-cache\r\n";
    if (nVerifying > 0) {
        header += "X-Orvane-Verifying: " + std::to_string(nVerifying) + "\r\n";
    }
    header += "\r\n";
    return header;
}
