// A TLS client for tests: over a connected blocking socket it shakes hands (verifying the
// server against one trusted certificate and address when given), sends a request and reads the
// answer to the end of the stream.
#pragma once

#include <openssl/ssl.h>
#include <string>
#include <string_view>

struct CTlsClientSettings {
    int nMaxVersion = TLS1_3_VERSION; // every version from TLS 1.0 up to this one is offered
    X509* pTrusted = nullptr;         // null: the server is not verified
    const char* pCiphers = nullptr;   // TLS 1.2 and older suites offered; null: the defaults
};

struct CTlsClientResult {
    bool bHandshake = false;
    int nPeerCertificates = 0; // the server's certificate and the issuers it sent
    std::string strCipher;     // the suite agreed on, empty without a handshake
    std::string strReceived;
};

CTlsClientResult TlsExchange(int fd, const CTlsClientSettings& settings, std::string_view request);
