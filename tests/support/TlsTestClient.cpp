#include "tests/support/TlsTestClient.h"

#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <openssl/err.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string ErrorQueue() {
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        char entry[256];
        ERR_error_string_n(code, entry, sizeof entry);
        text += text.empty() ? entry : std::string("; ") + entry;
    }
    return text;
}

} // namespace

CTlsClientResult TlsExchange(int fd, const CTlsClientSettings& settings, std::string_view request) {
    CTlsClientResult result;
    ERR_clear_error();
    const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(
        SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    SSL_CTX_set_min_proto_version(context.get(), settings.nMinVersion);
    SSL_CTX_set_max_proto_version(context.get(), settings.nMaxVersion);
    // Old protocols are only offered at security level 0: the client must really offer them
    // for the server's refusal to be tested.
    SSL_CTX_set_security_level(context.get(), 0);
    if (settings.pTrusted != nullptr) {
        X509_STORE_add_cert(SSL_CTX_get_cert_store(context.get()), settings.pTrusted);
        SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
        if (settings.pszIp != nullptr) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_CTX_get0_param(context.get()), settings.pszIp);
        }
    }
    const std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(context.get()), SSL_free);
    SSL_set_fd(ssl.get(), fd);
    if (SSL_connect(ssl.get()) != 1) {
        result.strError = ErrorQueue();
        return result;
    }
    result.bHandshake = true;
    result.strProtocol = SSL_get_version(ssl.get());
    std::size_t written = 0;
    if (!request.empty() &&
        SSL_write_ex(ssl.get(), request.data(), request.size(), &written) != 1) {
        result.strError = ErrorQueue();
        return result;
    }
    char buffer[4096];
    std::size_t got = 0;
    while (SSL_read_ex(ssl.get(), buffer, sizeof buffer, &got) == 1) {
        result.strReceived.append(buffer, got);
    }
    return result;
}

CTlsClientResult TlsExchangeOnLoopback(unsigned short port, const CTlsClientSettings& settings,
                                       std::string_view request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    CTlsClientResult result;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        result.strError = "connect failed";
    } else {
        result = TlsExchange(fd, settings, request);
    }
    ::close(fd);
    return result;
}
