// The service's certificate and key, kept as tls.crt and tls.key in the store's folder. An
// operator's pair is used as it is, after checks (the key private to its owner, the key matching
// the certificate, both readable PEM), with any issuers' certificates that follow the first in
// tls.crt. Without either file, a self-signed ECDSA P-256 certificate
// for the host name and the machine's IPv4 addresses is made once and kept, so that its
// fingerprint stays the same from one start to the next and clients can pin it.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <string>
#include <string_view>
#include <vector>

struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
struct EvpPkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;

class CCertificateStore {
public:
    static constexpr std::string_view kCertificateFile = "tls.crt";
    static constexpr std::string_view kKeyFile = "tls.key";
    static constexpr int kValidDays = 825;

    // Uses or creates the pair in folder; false with Error() saying why nothing can be served.
    bool Load(const std::filesystem::path& folder);

    // True when Load made the pair rather than finding it.
    bool Created() const { return m_bCreated; }
    const std::string& Error() const { return m_strError; }
    // The SHA-256 digest of the certificate as upper-case hex pairs joined by colons.
    std::string Fingerprint() const;
    std::chrono::system_clock::time_point Expiry() const;
    X509* Certificate() const { return m_pCertificate.get(); }
    EVP_PKEY* Key() const { return m_pKey.get(); }
    // The certificates after the first in an operator's tls.crt: the issuers a client needs
    // between the service's certificate and the authority it trusts.
    const std::vector<X509Ptr>& Chain() const { return m_chain; }

    // A self-signed certificate for the names (DNS) and IPv4 addresses (dotted), valid for
    // kValidDays from now, with a new P-256 key; false with Error() on failure.
    bool Generate(std::string_view hostName, const std::vector<std::string>& addresses);

private:
    bool Fail(std::string text);
    bool ReadPair(const std::filesystem::path& certificate, const std::filesystem::path& key);
    bool WritePair(const std::filesystem::path& certificate, const std::filesystem::path& key);

    X509Ptr m_pCertificate;
    std::vector<X509Ptr> m_chain;
    EvpPkeyPtr m_pKey;
    bool m_bCreated = false;
    std::string m_strError;
};
