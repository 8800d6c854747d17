#include "service/ServiceLog.h"

#include "platform/text/TextConv.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

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

std::string ComposeConnectionEntry(int nConnection, const sockaddr_in& peer, std::string_view line,
                                   std::time_t now) {
    char address[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    char head[200];
    const int n = std::snprintf(
        head, sizeof head, "SERVER CONNECTION # %d: IP addr = %s, port = %d -- %s\r\n", nConnection,
        address, ntohs(peer.sin_port), LogTimeText(now).c_str());
    // Counted in UTF-16 code units, as the entry is composed in wide text.
    std::u16string entry = Utf8ToUtf16(std::string_view(head, static_cast<std::size_t>(n)));
    entry += Utf8ToUtf16(line);
    if (entry.size() > kLogEntryMaxChars) {
        entry.resize(kLogEntryMaxChars);
    }
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

void LogConnection(int fd, int nConnection, const sockaddr_in& peer, std::string_view line) {
    if (fd < 0) {
        return;
    }
    WriteLogEntry(fd, ComposeConnectionEntry(nConnection, peer, line, std::time(nullptr)));
}

void LogSocketError(int fd, const CBlockingSocketException& e, std::string_view prefix) {
    if (fd < 0) {
        return;
    }
    WriteLogEntry(fd, ComposeSocketErrorLine(e, prefix, std::time(nullptr)));
}

void WriteLogEntry(int fd, std::string_view entry) {
    if (fd < 0) {
        return;
    }
    ssize_t r;
    do {
        r = ::write(fd, entry.data(), entry.size());
    } while (r < 0 && errno == EINTR);
}
