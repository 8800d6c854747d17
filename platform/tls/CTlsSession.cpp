#include "platform/tls/CTlsSession.h"

#include "platform/io/PollWait.h"
#include "platform/tls/TlsErrors.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <openssl/err.h>
#include <poll.h>

namespace {

// SSL_read and SSL_write take an int length.
int ClampLength(std::size_t n) {
    return static_cast<int>(std::min<std::size_t>(n, std::numeric_limits<int>::max()));
}

// The peer closed the stream without close_notify: OpenSSL 3 reports that as a protocol error.
bool IsEndOfStream(int error) {
    const unsigned long first = ERR_peek_error();
    return (error == SSL_ERROR_SYSCALL && errno == 0 && first == 0) ||
           (error == SSL_ERROR_SSL && ERR_GET_LIB(first) == ERR_LIB_SSL &&
            ERR_GET_REASON(first) == SSL_R_UNEXPECTED_EOF_WHILE_READING);
}

} // namespace

CTlsSession::CTlsSession(const CTlsServerContext& context, int fd)
    : m_pSsl(SSL_new(context.Get())), m_fd(fd) {
    if (m_pSsl && SSL_set_fd(m_pSsl.get(), fd) == 1) {
        SSL_set_accept_state(m_pSsl.get());
    } else {
        m_strError = TakeTlsErrors("TLS session cannot be set up");
        m_pSsl.reset();
    }
}

template <class Operation>
ETlsStatus CTlsSession::Drive(const char* pszWhat, Clock::time_point deadline,
                              Operation&& operation) {
    if (!m_pSsl) {
        return ETlsStatus::Failed;
    }
    for (;;) {
        ERR_clear_error();
        errno = 0;
        const int r = operation(m_pSsl.get());
        if (r > 0) {
            return ETlsStatus::Done;
        }
        const int error = SSL_get_error(m_pSsl.get(), r);
        short events = 0;
        if (error == SSL_ERROR_WANT_READ) {
            events = POLLIN;
        } else if (error == SSL_ERROR_WANT_WRITE) {
            events = POLLOUT;
        } else if (error == SSL_ERROR_ZERO_RETURN || IsEndOfStream(error)) {
            m_strError = std::string(pszWhat) + ": the peer closed the connection";
            return ETlsStatus::Closed;
        } else if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
            m_strError = std::string(pszWhat) + ": " + std::strerror(errno);
            return ETlsStatus::Failed;
        } else {
            m_strError = TakeTlsErrors(pszWhat);
            return ETlsStatus::Failed;
        }
        switch (WaitForEvents(m_fd, events, deadline)) {
        case EPollResult::Ready:
            break;
        case EPollResult::Timeout:
            m_strError = std::string(pszWhat) + ": timed out";
            return ETlsStatus::Timeout;
        case EPollResult::Failed:
            m_strError = std::string(pszWhat) + ": " + std::strerror(errno);
            return ETlsStatus::Failed;
        }
    }
}

ETlsStatus CTlsSession::Handshake(Clock::time_point deadline) {
    const ETlsStatus status = Drive("TLS handshake", deadline, SSL_do_handshake);
    m_bEstablished = status == ETlsStatus::Done;
    return status;
}

ETlsStatus CTlsSession::Read(void* pBuffer, std::size_t nCapacity, std::size_t& nDone,
                             Clock::time_point deadline) {
    nDone = 0;
    if (nCapacity == 0) {
        return ETlsStatus::Done;
    }
    return Drive("TLS read", deadline, [&](SSL* ssl) {
        return SSL_read_ex(ssl, pBuffer, static_cast<std::size_t>(ClampLength(nCapacity)), &nDone);
    });
}

ETlsStatus CTlsSession::Write(const void* pData, std::size_t nBytes, std::size_t& nDone,
                              Clock::time_point deadline) {
    nDone = 0;
    if (nBytes == 0) {
        return ETlsStatus::Done;
    }
    return Drive("TLS write", deadline, [&](SSL* ssl) {
        return SSL_write_ex(ssl, pData, static_cast<std::size_t>(ClampLength(nBytes)), &nDone);
    });
}

ETlsStatus CTlsSession::Shutdown(Clock::time_point deadline) {
    // 0 means close_notify went out and the peer's has not come: that is all this side needs.
    return Drive("TLS shutdown", deadline, [](SSL* ssl) {
        const int r = SSL_shutdown(ssl);
        return r == 0 ? 1 : r;
    });
}

std::string CTlsSession::Protocol() const {
    return m_bEstablished ? SSL_get_version(m_pSsl.get()) : "";
}
