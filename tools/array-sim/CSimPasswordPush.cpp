#include "tools/array-sim/CSimPasswordPush.h"

#include "platform/io/CUniqueFd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr std::uint16_t kManagerPort = 51001;
constexpr int kTimeoutSeconds = 10;

} // namespace

std::string CSimPasswordPush::Request(const std::string& mac, const std::string& password) {
    std::string body = password + "\r\n";
    return "POST /UpdateAdminPasswd?" + mac + " HTTP/1.0\r\n" + "Content-Type: text/plain\r\n" +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

int CSimPasswordPush::Push(const CArrayConfig& array, const std::string& manager,
                           const std::string& password, std::ostream& out, std::ostream& err) {
    std::string host = manager;
    std::uint16_t port = kManagerPort;
    if (std::size_t colon = manager.rfind(':'); colon != std::string::npos) {
        host = manager.substr(0, colon);
        std::string_view digits = std::string_view(manager).substr(colon + 1);
        int value = 0;
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error != std::errc() || end != digits.data() + digits.size() || value < 1 ||
            value > 65535) {
            err << "orvane-array-sim: bad port in --manager " << manager << "\n";
            return 1;
        }
        port = static_cast<std::uint16_t>(value);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    if (::inet_pton(AF_INET, host.c_str(), &to.sin_addr) != 1 ||
        ::inet_pton(AF_INET, array.m_strAddress.c_str(), &from.sin_addr) != 1) {
        err << "orvane-array-sim: --manager needs an IPv4 address\n";
        return 1;
    }
    const CUniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int fd = socket.Get();
    timeval timeout{kTimeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    std::string request = Request(array.Attribute("mac").value_or(""), password);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 ||
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size())) {
        err << "orvane-array-sim: cannot reach " << manager << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    std::string answer;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
        answer.append(buffer, static_cast<std::size_t>(got));
    }
    if (answer.empty()) {
        err << "orvane-array-sim: no answer from " << manager << "\n";
        return 1;
    }
    out << answer;
    if (answer.back() != '\n') {
        out << "\n";
    }
    return 0;
}
