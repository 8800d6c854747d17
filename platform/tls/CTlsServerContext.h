// The server side's TLS settings, shared by every session of a listener: TLS 1.2 and 1.3 only,
// TLS 1.2 with ECDHE and AES-GCM or ChaCha20-Poly1305 alone, the certificate and key of a
// CCertificateStore, no renegotiation.
#pragma once

#include "platform/tls/CCertificateStore.h"

#include <memory>
#include <openssl/ssl.h>
#include <string>

class CTlsServerContext {
public:
    // False with Error() when OpenSSL refuses the settings, the certificate or the key.
    bool Init(const CCertificateStore& store);

    SSL_CTX* Get() const { return m_pContext.get(); }
    const std::string& Error() const { return m_strError; }

private:
    struct SslCtxFree {
        void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
    };
    std::unique_ptr<SSL_CTX, SslCtxFree> m_pContext;
    std::string m_strError;
};
