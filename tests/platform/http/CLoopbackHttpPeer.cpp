// The loopback peer: an accept loop, a thread per connection, and the scripted answers.
#include "tests/platform/http/CLoopbackHttpPeer.h"

#include "platform/io/PollWait.h"
#include "platform/text/TextUtil.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

constexpr std::chrono::milliseconds kStopCheck{20};
constexpr std::chrono::seconds kReadLimit{10};

std::size_t ContentLength(std::string_view head) {
    constexpr std::string_view kName = "\r\ncontent-length:";
    const std::string lower = AsciiLower(head);
    const std::size_t at = lower.find(kName);
    if (at == std::string::npos) {
        return 0;
    }
    return std::strtoul(lower.c_str() + at + kName.size(), nullptr, 10);
}

// Reads one request: up to the blank line, then the body its Content-Length announces.
std::string ReadRequest(int fd) {
    const auto deadline = PollClock::now() + kReadLimit;
    std::string data;
    char buffer[4096];
    while (true) {
        const std::size_t headEnd = data.find("\r\n\r\n");
        if (headEnd != std::string::npos &&
            data.size() >= headEnd + 4 + ContentLength(std::string_view(data).substr(0, headEnd))) {
            return data;
        }
        if (WaitForEvents(fd, POLLIN, deadline) != EPollResult::Ready) {
            return data;
        }
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return data;
        }
        data.append(buffer, static_cast<std::size_t>(got));
    }
}

void SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

} // namespace

CLoopbackHttpPeer::CLoopbackHttpPeer(CScript script, const std::string& address, uint16_t port)
    : m_script(std::move(script)) {
    m_listen.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    ::setsockopt(m_listen.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
    socklen_t len = sizeof addr;
    if (::bind(m_listen.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_listen.Get(), SOMAXCONN) != 0 ||
        ::getsockname(m_listen.Get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        m_listen.Reset();
        return;
    }
    m_nPort = ntohs(addr.sin_port);
    m_acceptor = std::thread([this] { AcceptLoop(); });
}

CLoopbackHttpPeer::~CLoopbackHttpPeer() {
    m_bStop = true;
    if (m_acceptor.joinable()) {
        m_acceptor.join();
    }
    // The acceptor is gone: nobody adds threads any more.
    for (std::thread& thread : m_listThreads) {
        thread.join();
    }
}

void CLoopbackHttpPeer::Release() {
    m_bReleased = true;
}

void CLoopbackHttpPeer::AcceptLoop() {
    while (!m_bStop) {
        if (WaitForEvents(m_listen.Get(), POLLIN, kStopCheck) != EPollResult::Ready) {
            continue;
        }
        CUniqueFd connection(::accept4(m_listen.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!connection) {
            continue;
        }
        std::lock_guard lock(m_mutex);
        ++m_nConnections;
        m_listThreads.emplace_back([this, fd = connection.Release()] { Serve(CUniqueFd(fd)); });
    }
}

bool CLoopbackHttpPeer::WaitWhileOpen(int fd) const {
    char byte;
    while (!m_bStop && !m_bReleased) {
        if (WaitForEvents(fd, POLLIN, kStopCheck) == EPollResult::Ready &&
            ::recv(fd, &byte, 1, MSG_PEEK) <= 0) {
            return false; // the client went away
        }
    }
    return true;
}

void CLoopbackHttpPeer::Serve(CUniqueFd connection) {
    std::string request = ReadRequest(connection.Get());
    {
        std::lock_guard lock(m_mutex);
        m_listRequests.push_back(std::move(request));
    }
    m_changed.notify_all();
    switch (m_script.answer) {
    case EAnswer::Reply:
        SendAll(connection.Get(), m_script.strReply);
        ::shutdown(connection.Get(), SHUT_WR);
        break;
    case EAnswer::ReplyAndHold:
        SendAll(connection.Get(), m_script.strReply);
        WaitWhileOpen(connection.Get());
        break;
    case EAnswer::Silent:
        WaitWhileOpen(connection.Get());
        break;
    case EAnswer::Close:
        break;
    case EAnswer::ReplyWhenReleased:
        if (WaitWhileOpen(connection.Get())) {
            SendAll(connection.Get(), m_script.strReply);
            ::shutdown(connection.Get(), SHUT_WR);
        }
        break;
    }
}

std::size_t CLoopbackHttpPeer::Connections() const {
    std::lock_guard lock(m_mutex);
    return m_nConnections;
}

std::vector<std::string> CLoopbackHttpPeer::Requests() const {
    std::lock_guard lock(m_mutex);
    return m_listRequests;
}

bool CLoopbackHttpPeer::WaitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, limit, [&] { return m_listRequests.size() >= count; });
}

std::string CLoopbackHttpPeer::Reply(int status, std::string_view body) {
    return "HTTP/1.1 " + std::to_string(status) +
           " X\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + std::string(body);
}
