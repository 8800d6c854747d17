// A TLS client for tests: over a connected blocking socket it shakes hands (verifying the
// server against one trusted certificate when given), sends a request and reads the answer to
// the end of the stream.
#pragma once

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <string>
#include <string_view>

struct CTlsClientSettings {
    int nMinVersion = TLS1_VERSION;
    int nMaxVersion = TLS1_3_VERSION;
    X509* pTrusted = nullptr;    // verify the server against this certificate; null: do not
    const char* pszIp = nullptr; // with pTrusted: the address the certificate must name
};

struct CTlsClientResult {
    bool bHandshake = false;
    std::string strProtocol;
    std::string strReceived;
    std::string strError;
};

CTlsClientResult TlsExchange(int fd, const CTlsClientSettings& settings, std::string_view request);

// Connects to 127.0.0.1:port and runs TlsExchange; the socket is closed afterwards.
CTlsClientResult TlsExchangeOnLoopback(unsigned short port, const CTlsClientSettings& settings,
                                       std::string_view request);
