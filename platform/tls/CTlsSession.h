// One server-side TLS connection over a connected socket that the caller owns and has made
// non-blocking. Every call waits with poll() for what OpenSSL wants next (to read or to write)
// and gives up at the caller's deadline; failures come back as a status, with Error() saying why.
// OpenSSL writes to the socket with write(): the calling thread must block or ignore SIGPIPE,
// or a peer that leaves early ends the process.
#pragma once

#include "platform/tls/CTlsServerContext.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <openssl/ssl.h>
#include <string>

enum class ETlsStatus {
    Done,
    Closed,  // the peer ended the connection (close_notify or end of stream)
    Timeout, // the deadline passed first
    Failed,  // a protocol or socket error: see Error()
};

class CTlsSession {
public:
    using Clock = std::chrono::steady_clock;

    CTlsSession(const CTlsServerContext& context, int fd);

    bool Established() const { return m_bEstablished; }
    ETlsStatus Handshake(Clock::time_point deadline);
    // Some bytes, at most nCapacity, into nDone; Closed when the peer has ended the stream.
    ETlsStatus Read(void* pBuffer, std::size_t nCapacity, std::size_t& nDone,
                    Clock::time_point deadline);
    // Some of the bytes, at least one, as soon as the socket takes them.
    ETlsStatus Write(const void* pData, std::size_t nBytes, std::size_t& nDone,
                     Clock::time_point deadline);
    // Sends close_notify; the peer's answer is not waited for.
    ETlsStatus Shutdown(Clock::time_point deadline);
    // The protocol agreed on ("TLSv1.3"), empty before the handshake.
    std::string Protocol() const;
    const std::string& Error() const { return m_strError; }

private:
    template <class Operation>
    ETlsStatus Drive(const char* pszWhat, Clock::time_point deadline, Operation&& operation);

    struct SslFree {
        void operator()(SSL* p) const { SSL_free(p); }
    };
    std::unique_ptr<SSL, SslFree> m_pSsl;
    const int m_fd;
    bool m_bEstablished = false;
    std::string m_strError;
};
