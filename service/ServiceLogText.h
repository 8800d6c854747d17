// The texts of the credential service's log: one entry for every request line and body line it
// reads, one line for every socket error that ends a connection or keeps the service from
// starting or stopping cleanly. CServiceLog delivers them.
#pragma once

#include "platform/text/TextEscape.h"
#include "service/listener/CBlockingSocketException.h"

#include <chrono>
#include <cstddef>
#include <ctime>
#include <netinet/in.h>
#include <string>
#include <string_view>

// A connection entry holds at most this many UTF-16 code units; a longer client line is cut.
inline constexpr std::size_t kLogEntryMaxChars = 999;

// The IPv4 address of a peer as dotted decimal text.
std::string AddressText(const sockaddr_in& peer);

// "%m/%d/%y %H:%M:%S GMT" in UTC.
std::string LogTimeText(std::time_t now);

// "SERVER CONNECTION # <n>: IP addr = <a.b.c.d>, port = <port> -- <time>\r\n" followed by the
// client's line as received with its control bytes escaped, except its final CR LF or LF. The
// entry always ends with a line end: a line without one gets CR LF, and a line too long for
// kLogEntryMaxChars is cut before its line end.
std::string ComposeConnectionEntry(int nConnection, const sockaddr_in& peer, std::string_view line,
                                   std::time_t now);
// "WINSOCK ERROR--<prefix> <error text> -- <time>\r\n".
std::string ComposeSocketErrorLine(const CBlockingSocketException& e, std::string_view prefix,
                                   std::time_t now);

// One of the program's own lines ("OrvaneSrv: ...\n"), as the log holds it: after the time in UTC,
// ISO 8601 with milliseconds as the audit trail writes it, so that the two can be read side by
// side, and so that these lines stand apart from the request entries, which carry their own.
std::string StampProgramLine(std::string_view line, std::chrono::system_clock::time_point now);

// A line that carries a secret, as it is logged: eight asterisks and the line's own line end.
std::string MaskedLine(std::string_view line);
