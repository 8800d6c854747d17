#include "platform/slp/CSlpUdpSocket.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;
constexpr std::size_t kMaxDatagram = 65535;

} // namespace

CSlpUdpSocket::~CSlpUdpSocket() {
    if (m_nFd >= 0) {
        ::close(m_nFd);
    }
}

bool CSlpUdpSocket::Open(int multicastTtl, bool broadcast) {
    m_nFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_nFd < 0) {
        return false;
    }
    // The forced size needs privileges; the plain one is capped by the system but still helps.
    int size = kReceiveBufferBytes;
    if (::setsockopt(m_nFd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
        ::setsockopt(m_nFd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    unsigned char ttl = static_cast<unsigned char>(multicastTtl);
    ::setsockopt(m_nFd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    if (broadcast) {
        int on = 1;
        ::setsockopt(m_nFd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(m_nFd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return false;
    }
    m_arrBuffer.resize(kMaxDatagram);
    return true;
}

bool CSlpUdpSocket::SetMulticastInterface(in_addr address) {
    return ::setsockopt(m_nFd, IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof address) == 0;
}

bool CSlpUdpSocket::SendTo(std::span<const std::uint8_t> bytes, const sockaddr_in& to) {
    ssize_t sent = ::sendto(m_nFd, bytes.data(), bytes.size(), 0,
                            reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent == static_cast<ssize_t>(bytes.size());
}

std::optional<SlpDatagram> CSlpUdpSocket::Receive(std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        int timeout = left.count() > 0 ? static_cast<int>(left.count()) + 1 : 0;
        pollfd entry{m_nFd, POLLIN, 0};
        int ready = ::poll(&entry, 1, timeout);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::nullopt;
        }
        SlpDatagram datagram;
        socklen_t fromLength = sizeof datagram.from;
        ssize_t received = ::recvfrom(m_nFd, m_arrBuffer.data(), m_arrBuffer.size(), MSG_DONTWAIT,
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
