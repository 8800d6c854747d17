#include "service/ServiceLogText.h"

#include "core/audit/CAuditRecord.h"
#include "platform/text/TextConv.h"
#include "platform/text/TextEscape.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr std::size_t kStampBytes = 32; // the time text and its blank

} // namespace

std::string LogTimeText(std::time_t now) {
    // The C library converts under a process-wide lock; a thread rarely needs a new second.
    thread_local std::time_t cachedAt = -1;
    thread_local std::string cached;
    if (now == cachedAt) {
        return cached;
    }
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[128];
    const std::size_t n = std::strftime(text, sizeof text, "%m/%d/%y %H:%M:%S GMT", &tm);
    cachedAt = now;
    cached.assign(text, n);
    return cached;
}

std::string StampProgramLine(std::string_view line, std::chrono::system_clock::time_point now) {
    std::string stamped;
    stamped.reserve(line.size() + kStampBytes);
    CAuditRecord::AppendTimeText(stamped, now);
    stamped += ' ';
    stamped += line;
    return stamped;
}

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr char16_t kHighSurrogateFirst = 0xD800;
constexpr char16_t kLowSurrogateFirst = 0xDC00;

// The line end of a client's line as it is logged: its own CR LF or lone LF, or CR LF for a
// line that has none (a body cut by its announced length), so that the next entry starts on a
// line of its own.
std::string_view SplitLineEnd(std::string_view& line) {
    if (line.ends_with(kCrLf)) {
        line.remove_suffix(kCrLf.size());
        return kCrLf;
    }
    if (line.ends_with('\n')) {
        line.remove_suffix(1);
        return "\n";
    }
    return kCrLf;
}

// Appends the text as EscapeForLog writes it, as much of it as fits in room code units; an
// escape or a surrogate pair is appended whole or not at all. (The text came from UTF-8:
// malformed bytes are U+FFFD already.)
void AppendEscapedWithin(std::u16string_view text, std::size_t room, std::u16string& out) {
    std::u16string piece;
    std::size_t step = 1;
    for (std::size_t i = 0; i < text.size(); i += step) {
        piece.clear();
        step = 1;
        const char16_t c = text[i];
        if (c == u'\\') {
            piece = u"\\\\";
        } else if (IsControlCode(c)) {
            AppendHexEscape(c, piece);
        } else if (IsEscapedInLog(c)) {
            // Shown as the UTF-8 bytes the client sent.
            for (const char byte : Utf16ToUtf8(std::u16string_view(&text[i], 1))) {
                AppendHexEscape(static_cast<unsigned char>(byte), piece);
            }
        } else if (c >= kHighSurrogateFirst && c < kLowSurrogateFirst && i + 1 < text.size()) {
            piece = text.substr(i, 2);
            step = 2;
        } else {
            piece = c;
        }
        if (out.size() + piece.size() > room) {
            return;
        }
        out += piece;
    }
}

} // namespace

std::string AddressText(const sockaddr_in& peer) {
    char address[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    return address;
}

std::string ComposeConnectionEntry(int nConnection, const sockaddr_in& peer, std::string_view line,
                                   std::time_t now) {
    char head[200];
    const int n = std::snprintf(
        head, sizeof head, "SERVER CONNECTION # %d: IP addr = %s, port = %d -- %s\r\n", nConnection,
        AddressText(peer).c_str(), ntohs(peer.sin_port), LogTimeText(now).c_str());
    const std::string_view lineEnd = SplitLineEnd(line);
    // Counted in UTF-16 code units, as the entry is composed in wide text.
    std::u16string entry = Utf8ToUtf16(std::string_view(head, static_cast<std::size_t>(n)));
    AppendEscapedWithin(Utf8ToUtf16(line), kLogEntryMaxChars - lineEnd.size(), entry);
    entry.append(lineEnd.begin(), lineEnd.end());
    return Utf16ToUtf8(entry);
}

std::string ComposeSocketErrorLine(const CBlockingSocketException& e, std::string_view prefix,
                                   std::time_t now) {
    char16_t errorText[49];
    e.GetErrorText(errorText, std::size(errorText));
    std::string line = "WINSOCK ERROR--";
    line += prefix;
    line += ' ';
    line += Utf16ToUtf8(errorText);
    line += " -- ";
    line += LogTimeText(now);
    line += "\r\n";
    return line;
}

std::string MaskedLine(std::string_view line) {
    std::string masked = "********";
    if (line.ends_with("\r\n")) {
        masked += "\r\n";
    } else if (line.ends_with('\n')) {
        masked += '\n';
    }
    return masked;
}
