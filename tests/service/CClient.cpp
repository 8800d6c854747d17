#include "tests/service/CClient.h"

#include "platform/io/PollWait.h"
#include "platform/text/Base64.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace svctest {

CClient::CClient(uint16_t port, std::string_view from) {
    m_fd.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!from.empty()) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        if (::inet_pton(AF_INET, std::string(from).c_str(), &local.sin_addr) != 1 ||
            ::bind(m_fd.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            m_fd.Reset();
            return;
        }
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        m_fd.Reset();
    }
}

void CClient::Send(std::string_view bytes) const {
    while (!bytes.empty()) {
        const ssize_t r = ::send(m_fd.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (r <= 0) {
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(r));
    }
}

std::string CClient::ReadAll(std::chrono::milliseconds timeout) const {
    std::string text;
    const auto end = PollClock::now() + timeout;
    char buffer[16384];
    for (;;) {
        if (WaitForEvents(m_fd.Get(), POLLIN, end) != EPollResult::Ready) {
            return text;
        }
        const ssize_t r = ::recv(m_fd.Get(), buffer, sizeof buffer, 0);
        if (r <= 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(r));
    }
}

bool CClient::WaitClosed(std::chrono::milliseconds timeout) const {
    if (WaitForEvents(m_fd.Get(), POLLIN, timeout) != EPollResult::Ready) {
        return false;
    }
    char byte;
    return ::recv(m_fd.Get(), &byte, 1, MSG_PEEK) <= 0;
}

std::string Exchange(uint16_t port, std::string_view request) {
    return ExchangeFrom({}, port, request);
}

std::string ExchangeFrom(std::string_view from, uint16_t port, std::string_view request) {
    CClient client(port, from);
    EXPECT_TRUE(client.Connected());
    client.Send(request);
    return client.ReadAll();
}

std::string QueryRequest(std::string_view credentials) {
    return "POST /Query HTTP/1.0\r\nAuthorization: Basic " + Base64Encode(credentials) +
           "\r\n\r\nx\n";
}

bool RequestAndReset(uint16_t port, std::string_view request, bool bWholeAnswer) {
    const CClient client(port);
    bool bAnswered = false;
    if (client.Connected() && ::send(client.Fd(), request.data(), request.size(), MSG_NOSIGNAL) ==
                                  static_cast<ssize_t>(request.size())) {
        char buffer[65536];
        while (::recv(client.Fd(), buffer, sizeof buffer, 0) > 0) {
            bAnswered = true;
            if (!bWholeAnswer) {
                break;
            }
        }
    }
    const linger reset{1, 0};
    ::setsockopt(client.Fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    return bAnswered;
}

} // namespace svctest
