#include "platform/slp/CSlpTcpClient.h"

#include "platform/slp/CSlpMessageCodec.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

class CFd {
public:
    explicit CFd(int fd) : m_nFd(fd) {}
    ~CFd() {
        if (m_nFd >= 0) {
            ::close(m_nFd);
        }
    }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int Get() const { return m_nFd; }

private:
    int m_nFd;
};

bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd entry{fd, events, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0;
    }
}

bool ReadExactly(int fd, std::uint8_t* into, std::size_t count, Clock::time_point deadline) {
    while (count > 0) {
        if (!WaitFor(fd, POLLIN, deadline)) {
            return false;
        }
        ssize_t got = ::recv(fd, into, count, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        into += got;
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes, Clock::time_point deadline) {
    while (!bytes.empty()) {
        if (!WaitFor(fd, POLLOUT, deadline)) {
            return false;
        }
        ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(sent));
    }
    return true;
}

} // namespace

std::optional<std::vector<std::uint8_t>>
CSlpTcpClient::Exchange(std::span<const std::uint8_t> request, const sockaddr_in& to,
                        std::chrono::milliseconds timeout) {
    Clock::time_point deadline = Clock::now() + timeout;
    CFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.Get() < 0) {
        return std::nullopt;
    }
    int rc = ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (rc != 0 && errno != EINPROGRESS) {
        return std::nullopt;
    }
    if (rc != 0) {
        int error = 0;
        socklen_t length = sizeof error;
        if (!WaitFor(socket.Get(), POLLOUT, deadline) ||
            ::getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            return std::nullopt;
        }
    }
    if (!WriteAll(socket.Get(), request, deadline)) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> reply(5);
    if (!ReadExactly(socket.Get(), reply.data(), reply.size(), deadline)) {
        return std::nullopt;
    }
    std::optional<std::uint32_t> length = CSlpMessageCodec::PeekLength(reply);
    if (!length || *length < kSlpFixedHeaderSize) {
        return std::nullopt;
    }
    reply.resize(*length);
    if (!ReadExactly(socket.Get(), reply.data() + 5, reply.size() - 5, deadline)) {
        return std::nullopt;
    }
    return reply;
}
