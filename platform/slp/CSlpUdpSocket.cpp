// The user agent's UDP socket: opening, sending, bounded receiving.
#include "platform/slp/CSlpUdpSocket.h"

#include "platform/io/PollWait.h"

#include <arpa/inet.h>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

namespace {

constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;
constexpr std::size_t kMaxDatagram = 65535;

} // namespace

std::optional<sockaddr_in> CSlpUdpSocket::Address(const std::string& host, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        return std::nullopt;
    }
    return address;
}

bool CSlpUdpSocket::Open(int multicastTtl, bool broadcast) {
    m_fd.Reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!m_fd) {
        return false;
    }
    const int fd = m_fd.Get();
    // The forced size needs privileges; the plain one is capped by the system but still helps.
    int size = kReceiveBufferBytes;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    unsigned char ttl = static_cast<unsigned char>(multicastTtl);
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    if (broadcast) {
        int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return false;
    }
    m_arrBuffer.resize(kMaxDatagram);
    return true;
}

bool CSlpUdpSocket::SetMulticastInterface(in_addr address) {
    return ::setsockopt(m_fd.Get(), IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof address) == 0;
}

bool CSlpUdpSocket::SendTo(std::span<const std::uint8_t> bytes, const sockaddr_in& to) {
    ssize_t sent = ::sendto(m_fd.Get(), bytes.data(), bytes.size(), 0,
                            reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent == static_cast<ssize_t>(bytes.size());
}

std::optional<SlpDatagram> CSlpUdpSocket::Receive(std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        if (WaitForEvents(m_fd.Get(), POLLIN, deadline) != EPollResult::Ready) {
            return std::nullopt;
        }
        SlpDatagram datagram;
        socklen_t fromLength = sizeof datagram.from;
        ssize_t received =
            ::recvfrom(m_fd.Get(), m_arrBuffer.data(), m_arrBuffer.size(), MSG_DONTWAIT,
                       reinterpret_cast<sockaddr*>(&datagram.from), &fromLength);
        if (received < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == ECONNREFUSED) {
                continue;
            }
            return std::nullopt;
        }
        datagram.bytes.assign(m_arrBuffer.begin(), m_arrBuffer.begin() + received);
        return datagram;
    }
}
