#include "platform/slp/CSlpTcpClient.h"

#include "platform/io/CUniqueFd.h"
#include "platform/io/PollWait.h"
#include "platform/slp/CSlpMessageCodec.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

using Clock = PollClock;

bool WaitFor(int fd, short events, Clock::time_point deadline) {
    return WaitForEvents(fd, events, deadline) == EPollResult::Ready;
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
                        Clock::time_point deadline) {
    CUniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket) {
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
