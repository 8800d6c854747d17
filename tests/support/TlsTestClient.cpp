#include "tests/support/TlsTestClient.h"

#include <memory>

CTlsClientResult TlsExchange(int fd, const CTlsClientSettings& settings, std::string_view request) {
    CTlsClientResult result;
    const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(
        SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    SSL_CTX_set_min_proto_version(context.get(), TLS1_VERSION);
    SSL_CTX_set_max_proto_version(context.get(), settings.nMaxVersion);
    // Old protocols are only offered at security level 0: the client must really offer them
    // for the server's refusal to be tested.
    SSL_CTX_set_security_level(context.get(), 0);
    if (settings.pCiphers != nullptr) {
        SSL_CTX_set_cipher_list(context.get(), settings.pCiphers);
    }
    if (settings.pTrusted != nullptr) {
        X509_STORE_add_cert(SSL_CTX_get_cert_store(context.get()), settings.pTrusted);
        SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
        X509_VERIFY_PARAM_set1_ip_asc(SSL_CTX_get0_param(context.get()), "127.0.0.1");
    }
    const std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(context.get()), SSL_free);
    SSL_set_fd(ssl.get(), fd);
    std::size_t n = 0;
    result.bHandshake = SSL_connect(ssl.get()) == 1;
    if (result.bHandshake) {
        result.strCipher = SSL_get_cipher_name(ssl.get());
    }
    if (const STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl.get())) {
        result.nPeerCertificates = sk_X509_num(chain);
    }
    if (result.bHandshake &&
        (request.empty() || SSL_write_ex(ssl.get(), request.data(), request.size(), &n) == 1)) {
        char buffer[4096];
        while (SSL_read_ex(ssl.get(), buffer, sizeof buffer, &n) == 1) {
            result.strReceived.append(buffer, n);
        }
    }
    return result;
}
