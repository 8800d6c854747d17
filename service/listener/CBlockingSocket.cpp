#include "service/listener/CBlockingSocket.h"

#include "platform/io/PollWait.h"
#include "service/listener/CBlockingSocketException.h"

#include <algorithm>
#include <array>
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
// A file sent over TLS is read and encrypted in pieces of one TLS record.
constexpr std::size_t kTlsFilePiece = 16384;

// A TLS failure with the session's reason after the operation's name.
[[noreturn]] void ThrowTls(const CTlsSession& session) {
    throw CBlockingSocketException(session.Error().c_str(), 0);
}

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
    m_pTls.reset();
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
    if (m_pTls) {
        return SendTls(bytes, nBytes);
    }
    const int flags = MSG_NOSIGNAL | MSG_DONTWAIT | (bMore || m_bAnswerEndsStream ? MSG_MORE : 0);
    return static_cast<std::size_t>(Transfer(nBytes, [&](uint64_t sent) {
        return ::send(m_hSock, bytes + sent, nBytes - sent, flags);
    }));
}

std::size_t CBlockingSocket::SendBoth(std::string_view head, std::string_view body) {
    if (m_pTls) {
        return SendTls(head.data(), head.size()) + SendTls(body.data(), body.size());
    }
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
        return ::sendmsg(m_hSock, &message,
                         MSG_NOSIGNAL | MSG_DONTWAIT | (m_bAnswerEndsStream ? MSG_MORE : 0));
    }));
}

uint64_t CBlockingSocket::SendFile(int fd, uint64_t offset, uint64_t nBytes) {
    if (m_pTls) {
        return SendFileTls(fd, offset, nBytes);
    }
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
    return ReceiveWithin(pBuffer, nCapacity, m_nWaitMs, "Receive timeout");
}

std::size_t CBlockingSocket::ReceiveWithin(void* pBuffer, std::size_t nCapacity, int nWaitMs,
                                           const char* pszTimeout) {
    if (m_pTls) {
        return ReceiveTls(pBuffer, nCapacity, Clock::now() + std::chrono::milliseconds(nWaitMs),
                          pszTimeout);
    }
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
    if (!WaitFor(POLLIN, nWaitMs)) {
        throw CBlockingSocketException(pszTimeout, 0);
    }
    do {
        r = ::recv(m_hSock, pBuffer, nCapacity, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        throw CBlockingSocketException("Receive");
    }
    return static_cast<std::size_t>(r);
}

void CBlockingSocket::StartTls(const CTlsServerContext& context) {
    const int fd = m_hSock.load();
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        throw CBlockingSocketException("TLS start");
    }
    m_pTls = std::make_unique<CTlsSession>(context, fd);
}

void CBlockingSocket::EndTls() {
    if (m_pTls && m_pTls->Established()) {
        m_pTls->Shutdown(Clock::now() + std::chrono::milliseconds(m_nWaitMs));
    }
}

void CBlockingSocket::HandshakeBefore(Clock::time_point deadline) {
    if (m_pTls->Established()) {
        return;
    }
    switch (m_pTls->Handshake(deadline)) {
    case ETlsStatus::Done:
        return;
    case ETlsStatus::Timeout:
        throw CBlockingSocketException("TLS handshake timeout", 0);
    case ETlsStatus::Closed:
    case ETlsStatus::Failed:
        ThrowTls(*m_pTls);
    }
}

std::size_t CBlockingSocket::ReceiveTls(void* pBuffer, std::size_t nCapacity,
                                        Clock::time_point deadline, const char* pszTimeout) {
    HandshakeBefore(deadline);
    std::size_t got = 0;
    switch (m_pTls->Read(pBuffer, nCapacity, got, deadline)) {
    case ETlsStatus::Done:
        return got;
    case ETlsStatus::Closed:
        return 0;
    case ETlsStatus::Timeout:
        throw CBlockingSocketException(pszTimeout, 0);
    case ETlsStatus::Failed:
        break;
    }
    ThrowTls(*m_pTls);
}

std::size_t CBlockingSocket::SendTls(const char* pData, std::size_t nBytes) {
    HandshakeBefore(Clock::now() + std::chrono::milliseconds(m_nWaitMs));
    std::size_t sent = 0;
    while (sent < nBytes) {
        const Clock::time_point progress = ProgressDeadline();
        const Clock::time_point wait = Clock::now() + std::chrono::milliseconds(m_nWaitMs);
        std::size_t done = 0;
        switch (m_pTls->Write(pData + sent, nBytes - sent, done, std::min(progress, wait))) {
        case ETlsStatus::Done:
            sent += done;
            NoteProgress(done);
            break;
        case ETlsStatus::Timeout:
            throw CBlockingSocketException(
                Clock::now() >= progress ? "Send progress" : "Send timeout", 0);
        case ETlsStatus::Closed:
        case ETlsStatus::Failed:
            ThrowTls(*m_pTls);
        }
    }
    return sent;
}

uint64_t CBlockingSocket::SendFileTls(int fd, uint64_t offset, uint64_t nBytes) {
    std::array<char, kTlsFilePiece> piece;
    uint64_t sent = 0;
    while (sent < nBytes) {
        const auto want = static_cast<std::size_t>(std::min<uint64_t>(piece.size(), nBytes - sent));
        const ssize_t r = ::pread(fd, piece.data(), want, static_cast<off_t>(offset + sent));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {
            throw CBlockingSocketException("Send");
        }
        if (r == 0) {
            break;
        }
        sent += SendTls(piece.data(), static_cast<std::size_t>(r));
    }
    return sent;
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
