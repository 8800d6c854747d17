// The byte strings the credential service answers with: the canned not-found and unauthorized
// responses, and the headers of a served file and of an XML document. Every response names the
// server "Orvane2.0 Management Server".
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

inline constexpr std::string_view kNotFoundResponse =
    "HTTP/1.0 404 Object Not Found\r\n"
    "Server: Orvane2.0 Management Server\r\n"
    "Content-Type: text/html\r\n"
    "Accept-Ranges: bytes\r\n"
    "Content-Length: 66\r\n"
    "\r\n"
    "<html><h1><body>HTTP/1.0 404 Object Not Found</h1></body></html>\r\n";

// The whole 401 response, its Content-Length matching its body.
std::string_view UnauthorizedResponse();
// The 401 response to an attempt that was refused unchecked because of earlier failures: the
// same bytes with a "Retry-After:" header telling the client how many seconds to wait.
std::string ThrottledResponse(int64_t nRetryAfterSeconds);

// "%a, %d %b %Y %H:%M:%S GMT" in UTC with English names, whatever the locale.
std::string HttpDateText(std::time_t now);

// Status line and headers of a served file, the blank line included; besides the canned
// responses' headers they forbid content sniffing and framing.
std::string FileResponseHeader(std::time_t now, int64_t nLength);
// Status line and headers of an XML document, the blank line included; the document has no
// Content-Length and ends when the connection closes. While remembered authorizations are still
// being verified after a restart (nVerifying of them), "X-Orvane-Verifying" says how many.
std::string DocumentResponseHeader(std::time_t now, std::size_t nVerifying = 0);
