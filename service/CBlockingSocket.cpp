#include "service/CBlockingSocket.h"

#include "platform/io/PollWait.h"
#include "service/CBlockingSocketException.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// What one sendfile() call moves at most on Linux, whatever it is asked for.
constexpr uint64_t kMaxSendFileBytes = 0x7ffff000;

// Linux reports network errors of a pending connection from accept() itself: they concern that
// one client (one that a remote host can provoke at will), not the listening socket.
bool IsErrorOfOneConnection(int error) {
    switch (error) {
    case EINTR:
    case ECONNABORTED:
    case ENETDOWN:
    case EPROTO:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case EPERM:
        return true;
    default:
        return false;
    }
}

} // namespace

CBlockingSocket::~CBlockingSocket() {
    const int fd = m_hSock.exchange(kNoSocket);
    if (fd != kNoSocket) {
        ::close(fd);
    }
}

void CBlockingSocket::Create() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw CBlockingSocketException("Create");
    }
    m_hSock = fd;
}

void CBlockingSocket::Bind(const sockaddr_in& address) {
    const int on = 1;
    ::setsockopt(m_hSock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(m_hSock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw CBlockingSocketException("Bind");
    }
}

void CBlockingSocket::Listen(int nBacklog) {
    if (::listen(m_hSock, nBacklog) != 0) {
        throw CBlockingSocketException("Listen");
    }
}

bool CBlockingSocket::Accept(CBlockingSocket& connection, sockaddr_in& peer) {
    socklen_t len = sizeof peer;
    int fd;
    do {
        fd = ::accept4(m_hSock.load(), reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    } while (fd < 0 && IsErrorOfOneConnection(errno));
    connection.m_hSock = fd < 0 ? kNoSocket : fd;
    if (fd >= 0) {
        return true;
    }
    // A listening socket that was shut down answers EINVAL; one already closed, EBADF.
    if (errno == EINVAL || errno == EBADF) {
        return false;
    }
    throw CBlockingSocketException("Accept");
}

void CBlockingSocket::Shutdown() {
    const int fd = m_hSock.load();
    if (fd != kNoSocket) {
        ::shutdown(fd, SHUT_RDWR);
    }
}

void CBlockingSocket::Close() {
    const int fd = m_hSock.load();
    if (fd == kNoSocket) {
        return;
    }
    // The descriptor is gone whatever close() answers (Linux releases it even on EINTR or EIO),
    // so the handle is given up first: closing it again could close another thread's socket.
    m_hSock = kNoSocket;
    if (::close(fd) != 0 && errno != EINTR) {
        throw CBlockingSocketException("Close");
    }
}

bool CBlockingSocket::WaitFor(short events, int nWaitMs) const {
    return WaitForEvents(m_hSock.load(), events, std::chrono::milliseconds(nWaitMs)) !=
           EPollResult::Timeout;
}

CBlockingSocket::Clock::time_point CBlockingSocket::ProgressDeadline() {
    if (!m_progressStart) {
        m_progressStart = Clock::now();
        m_nProgressBytes = 0;
    }
    return *m_progressStart + std::chrono::milliseconds(m_nProgressWindowMs);
}

void CBlockingSocket::NoteProgress(std::size_t nBytes) {
    m_nProgressBytes += nBytes;
    if (m_nProgressBytes >= m_nMinProgressBytes) {
        m_progressStart = Clock::now();
        m_nProgressBytes = 0;
    }
}

template <class TransferOnce>
uint64_t CBlockingSocket::Transfer(uint64_t nBytes, TransferOnce&& transferOnce) {
    uint64_t sent = 0;
    // A socket with room in its send buffer takes the bytes at once; the readiness wait is only
    // needed when it has none. Zero bytes still take the wait, as a probe of the connection.
    bool wait = nBytes == 0;
    do {
        const Clock::time_point deadline = ProgressDeadline();
        if (Clock::now() >= deadline) {
            throw CBlockingSocketException("Send progress", 0);
        }
        if (wait && !WaitFor(POLLOUT, std::min(m_nWaitMs, MillisecondsUntil(deadline)))) {
            throw CBlockingSocketException(
                Clock::now() >= deadline ? "Send progress" : "Send timeout", 0);
        }
        wait = true;
        const ssize_t r = transferOnce(sent);
        if (r < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            throw CBlockingSocketException("Send");
        }
        if (r == 0 && nBytes > 0) {
            return sent;
        }
        sent += static_cast<uint64_t>(r);
        NoteProgress(static_cast<std::size_t>(r));
    } while (sent < nBytes);
    return sent;
}

std::size_t CBlockingSocket::Send(const void* pData, std::size_t nBytes, bool bMore) {
    const auto* bytes = static_cast<const char*>(pData);
    const int flags = MSG_NOSIGNAL | MSG_DONTWAIT | (bMore ? MSG_MORE : 0);
    return static_cast<std::size_t>(Transfer(nBytes, [&](uint64_t sent) {
        return ::send(m_hSock, bytes + sent, nBytes - sent, flags);
    }));
}

std::size_t CBlockingSocket::SendBoth(std::string_view head, std::string_view body) {
    return static_cast<std::size_t>(Transfer(head.size() + body.size(), [&](uint64_t sent) {
        iovec parts[2];
        int nParts = 0;
        if (sent < head.size()) {
            parts[nParts++] = {const_cast<char*>(head.data() + sent), head.size() - sent};
        }
        const std::size_t bodySent = sent < head.size() ? 0 : sent - head.size();
        parts[nParts++] = {const_cast<char*>(body.data() + bodySent), body.size() - bodySent};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = static_cast<std::size_t>(nParts);
        return ::sendmsg(m_hSock, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    }));
}

uint64_t CBlockingSocket::SendFile(int fd, uint64_t offset, uint64_t nBytes) {
    // sendfile() has no flag for a single call that must not block: the socket itself does not
    // block while the file goes out. A peer that closed raises no SIGPIPE either way: the
    // program ignores it.
    const int socket = m_hSock.load();
    const int flags = ::fcntl(socket, F_GETFL);
    const bool bWasBlocking = flags >= 0 && (flags & O_NONBLOCK) == 0;
    if (bWasBlocking) {
        ::fcntl(socket, F_SETFL, flags | O_NONBLOCK);
    }
    struct CRestore {
        int socket, flags;
        bool bRestore;
        ~CRestore() {
            if (bRestore) {
                ::fcntl(socket, F_SETFL, flags);
            }
        }
    } restore{socket, flags, bWasBlocking};
    auto position = static_cast<off_t>(offset);
    return Transfer(nBytes, [&](uint64_t sent) {
        return ::sendfile(
            socket, fd, &position,
            static_cast<std::size_t>(std::min<uint64_t>(nBytes - sent, kMaxSendFileBytes)));
    });
}

std::size_t CBlockingSocket::Receive(void* pBuffer, std::size_t nCapacity) {
    // Bytes that are already there are taken at once: a request usually arrives whole, and its
    // lines need no readiness wait (one system call fewer for each).
    ssize_t r;
    do {
        r = ::recv(m_hSock, pBuffer, nCapacity, MSG_DONTWAIT);
    } while (r < 0 && errno == EINTR);
    if (r >= 0) {
        return static_cast<std::size_t>(r);
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
        throw CBlockingSocketException("Receive");
    }
    if (!WaitFor(POLLIN, m_nWaitMs)) {
        throw CBlockingSocketException("Receive timeout", 0);
    }
    do {
        r = ::recv(m_hSock, pBuffer, nCapacity, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        throw CBlockingSocketException("Receive");
    }
    return static_cast<std::size_t>(r);
}

uint16_t CBlockingSocket::LocalPort() const {
    sockaddr_in address{};
    socklen_t len = sizeof address;
    if (m_hSock.load() == kNoSocket ||
        ::getsockname(m_hSock, reinterpret_cast<sockaddr*>(&address), &len) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}
