// Encoding and decoding of the control socket's request and reply; see ControlProtocol.h.
#include "control/ControlProtocol.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <sys/socket.h>

namespace ControlProtocol {

namespace {

constexpr std::string_view kMagic{"orvanectl-1\0", 12};

// Reads a decimal number that ends with terminator at pos; moves pos past the terminator.
// Answers nothing while the terminator has not arrived; bad for anything but digits.
std::optional<std::size_t> ReadNumber(std::string_view bytes, std::size_t& pos, char terminator,
                                      std::size_t maxValue, bool& bad) {
    constexpr std::size_t kMaxDigits = 10;
    const std::size_t end = bytes.find(terminator, pos);
    if (end == std::string_view::npos) {
        bad = bytes.size() - pos > kMaxDigits;
        return std::nullopt;
    }
    std::size_t value = 0;
    const char* first = bytes.data() + pos;
    const char* last = bytes.data() + end;
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (first == last || ec != std::errc() || ptr != last || value > maxValue) {
        bad = true;
        return std::nullopt;
    }
    pos = end + 1;
    return value;
}

} // namespace

std::optional<sockaddr_un> SocketAddress(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    if (text.size() >= sizeof address.sun_path) {
        return std::nullopt;
    }
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return address;
}

bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

std::string EncodeRequest(const std::vector<std::string>& args) {
    std::string bytes(kMagic);
    bytes += std::to_string(args.size());
    bytes += '\0';
    for (const std::string& arg : args) {
        bytes += arg;
        bytes += '\0';
    }
    return bytes;
}

std::optional<std::vector<std::string>> DecodeRequest(std::string_view bytes, bool& bad) {
    bad = bytes.size() > kMaxRequestBytes ||
          bytes.substr(0, kMagic.size()) != kMagic.substr(0, bytes.size());
    if (bad || bytes.size() < kMagic.size()) {
        return std::nullopt;
    }
    std::size_t pos = kMagic.size();
    const std::optional<std::size_t> count = ReadNumber(bytes, pos, '\0', kMaxArguments, bad);
    // A whole request ends with an argument's terminator: a request of megabytes read in small
    // pieces is walked once it may be whole, not once a piece.
    if (!count || (*count > 0 && bytes.back() != '\0')) {
        return std::nullopt;
    }
    std::vector<std::string> args;
    while (args.size() < *count) {
        const std::size_t end = bytes.find('\0', pos);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        args.emplace_back(bytes.substr(pos, end - pos));
        pos = end + 1;
    }
    if (pos != bytes.size()) {
        bad = true; // more than one request
        return std::nullopt;
    }
    return args;
}

std::string EncodeProgress(CControlProgress progress) {
    return "+" + std::to_string(progress.nDone) + " " + std::to_string(progress.nTotal) + "\n";
}

std::optional<CControlProgress> TakeProgress(std::string& bytes, bool& bad) {
    constexpr std::size_t kMaxCount = std::size_t{1} << 40U;
    std::optional<CControlProgress> last;
    while (!bad && !bytes.empty() && bytes[0] == '+') {
        const std::string_view view(bytes);
        std::size_t pos = 1;
        const auto done = ReadNumber(view, pos, ' ', kMaxCount, bad);
        const auto total = done ? ReadNumber(view, pos, '\n', kMaxCount, bad) : std::nullopt;
        if (!total) {
            break; // more must come, or bad says it never will
        }
        last = CControlProgress{*done, *total};
        bytes.erase(0, pos);
    }
    return last;
}

std::string EncodeReply(const CControlReply& reply) {
    return std::to_string(reply.nStatus) + "\n" + std::to_string(reply.strOut.size()) + "\n" +
           reply.strOut + std::to_string(reply.strErr.size()) + "\n" + reply.strErr;
}

std::optional<CControlReply> DecodeReply(std::string_view bytes, bool& bad) {
    constexpr std::size_t kMaxStatus = 255;
    bad = bytes.size() > kMaxReplyBytes;
    if (bad) {
        return std::nullopt;
    }
    std::size_t pos = 0;
    CControlReply reply;
    const auto status = ReadNumber(bytes, pos, '\n', kMaxStatus, bad);
    if (!status) {
        return std::nullopt;
    }
    reply.nStatus = static_cast<int>(*status);
    for (std::string* text : {&reply.strOut, &reply.strErr}) {
        const auto length = ReadNumber(bytes, pos, '\n', kMaxReplyBytes, bad);
        if (!length || bytes.size() - pos < *length) {
            return std::nullopt;
        }
        *text = bytes.substr(pos, *length);
        pos += *length;
    }
    if (pos != bytes.size()) {
        bad = true;
        return std::nullopt;
    }
    return reply;
}

} // namespace ControlProtocol
