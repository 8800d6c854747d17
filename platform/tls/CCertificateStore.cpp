#include "platform/tls/CCertificateStore.h"

#include "platform/io/CUniqueFd.h"
#include "platform/io/StateFolder.h"
#include "platform/tls/TlsErrors.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr long kSecondsPerDay = 24L * 60 * 60;
constexpr int kSerialBytes = 16;
// Anyone but the owner may do nothing at all with a key file.
constexpr mode_t kForeignAccess = S_IRWXG | S_IRWXO;

struct BioFree {
    void operator()(BIO* p) const { BIO_free(p); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return "localhost";
    }
    return name;
}

// The machine's IPv4 addresses, loopback included, each once.
std::vector<std::string> LocalAddresses() {
    std::vector<std::string> addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return addresses;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        char text[INET_ADDRSTRLEN];
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr &&
            std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
            addresses.emplace_back(text);
        }
    }
    ::freeifaddrs(list);
    return addresses;
}

// A host name goes into the certificate only when it is a plain DNS name.
bool IsDnsName(std::string_view name) {
    return !name.empty() && name.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                                   "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-") ==
                                std::string_view::npos;
}

std::string ReadError(const std::filesystem::path& path, std::string_view what) {
    return TakeTlsErrors(path.string() + ": " + std::string(what));
}

// Writes bytes to path through a temporary file renamed over it, so that a crash leaves either
// the old file or the whole new one; the mode is set before any byte is written.
bool WriteAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode,
                     std::string& error) {
    const std::filesystem::path temporary = path.string() + ".tmp";
    ::unlink(temporary.c_str());
    CUniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    bool ok = fd && ::fchmod(fd.Get(), mode) == 0;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t r = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
        ok = r > 0 || (r < 0 && errno == EINTR);
        done += r > 0 ? static_cast<std::size_t>(r) : 0;
    }
    ok = ok && ::fsync(fd.Get()) == 0;
    fd.Reset();
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        error = path.string() + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
    }
    return ok;
}

bool AddSubjectAltNames(X509* certificate, std::string_view hostName,
                        const std::vector<std::string>& addresses) {
    std::string names;
    if (IsDnsName(hostName)) {
        names = "DNS:" + std::string(hostName);
    }
    for (const std::string& address : addresses) {
        names += (names.empty() ? "IP:" : ",IP:") + address;
    }
    if (names.empty()) {
        return true;
    }
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension =
        X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, names.c_str());
    const bool ok = extension != nullptr && X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return ok;
}

bool SetRandomSerial(X509* certificate) {
    unsigned char bytes[kSerialBytes];
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        return false;
    }
    bytes[0] &= 0x7f; // a serial number is positive
    BIGNUM* serial = BN_bin2bn(bytes, sizeof bytes, nullptr);
    const bool ok = serial != nullptr &&
                    BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(certificate)) != nullptr;
    BN_free(serial);
    return ok;
}

std::string PemOf(int (*write)(BIO*, void*), void* object) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get(), object) != 1) {
        return {};
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

} // namespace

bool CCertificateStore::Fail(std::string text) {
    m_strError = std::move(text);
    m_pCertificate.reset();
    m_pKey.reset();
    return false;
}

bool CCertificateStore::Load(const std::filesystem::path& folder) {
    ERR_clear_error();
    m_bCreated = false;
    const std::filesystem::path certificate = folder / kCertificateFile;
    const std::filesystem::path key = folder / kKeyFile;
    std::error_code ec;
    const bool bHaveCertificate = std::filesystem::exists(certificate, ec);
    const bool bHaveKey = std::filesystem::exists(key, ec);
    if (bHaveCertificate && bHaveKey) {
        return ReadPair(certificate, key);
    }
    // One file without the other is an operator's unfinished pair: it is not overwritten.
    if (bHaveCertificate || bHaveKey) {
        return Fail((bHaveKey ? key : certificate).string() + " is there without " +
                    (bHaveKey ? certificate : key).string());
    }
    MakePrivateFolderFor(key);
    if (!Generate(HostName(), LocalAddresses()) || !WritePair(certificate, key)) {
        return false;
    }
    m_bCreated = true;
    return true;
}

bool CCertificateStore::ReadPair(const std::filesystem::path& certificate,
                                 const std::filesystem::path& key) {
    struct stat st {};
    if (::stat(key.c_str(), &st) != 0) {
        return Fail(key.string() + ": " + std::strerror(errno));
    }
    if ((st.st_mode & kForeignAccess) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return Fail(key.string() + " is open to group or others (mode " + mode +
                    "): only its owner may read it (chmod 600)");
    }
    BioPtr bio(BIO_new_file(certificate.c_str(), "r"));
    if (!bio) {
        return Fail(ReadError(certificate, "cannot be read"));
    }
    m_pCertificate.reset(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!m_pCertificate) {
        return Fail(ReadError(certificate, "holds no PEM certificate"));
    }
    m_chain.clear();
    while (X509* issuer = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
        m_chain.emplace_back(issuer);
    }
    ERR_clear_error(); // the end of the file, reported as a missing PEM start line
    bio.reset(BIO_new_file(key.c_str(), "r"));
    if (!bio) {
        return Fail(ReadError(key, "cannot be read"));
    }
    m_pKey.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!m_pKey) {
        return Fail(ReadError(key, "holds no unencrypted PEM private key"));
    }
    if (X509_check_private_key(m_pCertificate.get(), m_pKey.get()) != 1) {
        return Fail(ReadError(key, "does not match " + certificate.string()));
    }
    m_strError.clear();
    return true;
}

bool CCertificateStore::Generate(std::string_view hostName,
                                 const std::vector<std::string>& addresses) {
    ERR_clear_error();
    m_pKey.reset(EVP_EC_gen("P-256"));
    m_pCertificate.reset(X509_new());
    X509* certificate = m_pCertificate.get();
    if (!m_pKey || !certificate) {
        return Fail(TakeTlsErrors("cannot make a key"));
    }
    const std::string commonName = IsDnsName(hostName) ? std::string(hostName) : "OrvaneSrv";
    X509_NAME* name = X509_get_subject_name(certificate);
    const bool ok =
        X509_set_version(certificate, X509_VERSION_3) == 1 && SetRandomSerial(certificate) &&
        X509_gmtime_adj(X509_getm_notBefore(certificate), 0) != nullptr &&
        X509_gmtime_adj(X509_getm_notAfter(certificate), kValidDays * kSecondsPerDay) != nullptr &&
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                                   -1, 0) == 1 &&
        X509_set_issuer_name(certificate, name) == 1 &&
        X509_set_pubkey(certificate, m_pKey.get()) == 1 &&
        AddSubjectAltNames(certificate, hostName, addresses) &&
        X509_sign(certificate, m_pKey.get(), EVP_sha256()) > 0;
    if (!ok) {
        return Fail(TakeTlsErrors("cannot make a certificate"));
    }
    m_strError.clear();
    return true;
}

bool CCertificateStore::WritePair(const std::filesystem::path& certificate,
                                  const std::filesystem::path& key) {
    const std::string keyPem = PemOf(
        [](BIO* bio, void* p) {
            return PEM_write_bio_PrivateKey(bio, static_cast<EVP_PKEY*>(p), nullptr, nullptr, 0,
                                            nullptr, nullptr);
        },
        m_pKey.get());
    const std::string certificatePem =
        PemOf([](BIO* bio, void* p) { return PEM_write_bio_X509(bio, static_cast<X509*>(p)); },
              m_pCertificate.get());
    if (keyPem.empty() || certificatePem.empty()) {
        return Fail(TakeTlsErrors("cannot write the certificate"));
    }
    std::string error;
    // The key first: a certificate is never left without its key.
    if (!WriteAtomically(key, keyPem, S_IRUSR | S_IWUSR, error) ||
        !WriteAtomically(certificate, certificatePem, S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH,
                         error)) {
        return Fail(error);
    }
    return true;
}

std::string CCertificateStore::Fingerprint() const {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!m_pCertificate || X509_digest(m_pCertificate.get(), EVP_sha256(), digest, &length) != 1) {
        return {};
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += i == 0 ? "" : ":";
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0xf];
    }
    return text;
}

std::chrono::system_clock::time_point CCertificateStore::Expiry() const {
    std::tm tm{};
    if (!m_pCertificate || ASN1_TIME_to_tm(X509_get0_notAfter(m_pCertificate.get()), &tm) != 1) {
        return {};
    }
    return std::chrono::system_clock::from_time_t(::timegm(&tm));
}
