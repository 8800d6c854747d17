#include "platform/tls/CTlsServerContext.h"

#include "platform/tls/TlsErrors.h"

#include <openssl/err.h>

namespace {

// TLS 1.2 gets forward secrecy and AEAD only: CBC suites invite padding-oracle timing attacks and
// RSA key exchange gives up past sessions with the key. Either certificate kind an operator may
// bring (ECDSA, RSA) finds its suites here. TLS 1.3 keeps OpenSSL's own suites, all AEAD.
constexpr const char* kTls12Ciphers = "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
                                      "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
                                      "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

bool AddChain(SSL_CTX* context, const CCertificateStore& store) {
    for (const X509Ptr& issuer : store.Chain()) {
        if (SSL_CTX_add1_chain_cert(context, issuer.get()) != 1) {
            return false;
        }
    }
    return true;
}

} // namespace

bool CTlsServerContext::Init(const CCertificateStore& store) {
    ERR_clear_error();
    m_pContext.reset(SSL_CTX_new(TLS_server_method()));
    SSL_CTX* context = m_pContext.get();
    const bool ok =
        context != nullptr && SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) == 1 &&
        SSL_CTX_set_max_proto_version(context, TLS1_3_VERSION) == 1 &&
        SSL_CTX_set_cipher_list(context, kTls12Ciphers) == 1 && store.Certificate() != nullptr &&
        store.Key() != nullptr && SSL_CTX_use_certificate(context, store.Certificate()) == 1 &&
        SSL_CTX_use_PrivateKey(context, store.Key()) == 1 &&
        SSL_CTX_check_private_key(context) == 1 && AddChain(context, store);
    if (!ok) {
        m_strError = TakeTlsErrors("TLS server settings refused");
        m_pContext.reset();
        return false;
    }
    // A client may not make the server redo handshakes on an open connection; sends may end
    // part-way, as on a plain socket, and be resumed from another buffer address.
    SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    m_strError.clear();
    return true;
}
