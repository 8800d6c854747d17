// AES-256-GCM and scrypt through OpenSSL 3; see SealCrypto.h.
#include "platform/crypto/SealCrypto.h"

#include <climits>
#include <memory>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <stdexcept>

namespace {

constexpr std::uint64_t kScryptBlockBytes = 128;
// OpenSSL's own bookkeeping beside the blocks, so that maxmem never refuses allowed parameters.
constexpr std::uint64_t kScryptSlackBytes = std::uint64_t{1} << 20;

struct CCipherCtxFree {
    void operator()(EVP_CIPHER_CTX* p) const { EVP_CIPHER_CTX_free(p); }
};
using CCipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CCipherCtxFree>;
struct CKdfFree {
    void operator()(EVP_KDF* p) const { EVP_KDF_free(p); }
};
struct CKdfCtxFree {
    void operator()(EVP_KDF_CTX* p) const { EVP_KDF_CTX_free(p); }
};

const unsigned char* Data(std::string_view s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

bool SizesFit(std::span<const std::uint8_t> key, std::span<const std::uint8_t> nonce,
              std::size_t nAad, std::size_t nText) {
    return key.size() == kAeadKeyBytes && nonce.size() == kAeadNonceBytes && nAad <= INT_MAX &&
           nText <= INT_MAX;
}

// The cipher set up for one direction with key and nonce, the aad taken in.
CCipherCtx StartGcm(bool bEncrypt, std::span<const std::uint8_t> key,
                    std::span<const std::uint8_t> nonce, std::string_view aad) {
    CCipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx ||
        EVP_CipherInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr,
                          bEncrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kAeadNonceBytes, nullptr) != 1 ||
        EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, key.data(), nonce.data(), -1) != 1) {
        return nullptr;
    }
    int len = 0;
    if (!aad.empty() &&
        EVP_CipherUpdate(ctx.get(), nullptr, &len, Data(aad), static_cast<int>(aad.size())) != 1) {
        return nullptr;
    }
    return ctx;
}

} // namespace

std::string AeadSeal(std::span<const std::uint8_t> key, std::span<const std::uint8_t> nonce,
                     std::string_view aad, std::span<const std::uint8_t> plaintext) {
    if (!SizesFit(key, nonce, aad.size(), plaintext.size())) {
        throw std::runtime_error("AES-256-GCM: wrong key or nonce size, or input too long");
    }
    CCipherCtx ctx = StartGcm(true, key, nonce, aad);
    if (!ctx) {
        throw std::runtime_error("AES-256-GCM: the cipher could not be set up");
    }
    std::string out(plaintext.size() + kAeadTagBytes, '\0');
    auto* pOut = reinterpret_cast<unsigned char*>(out.data());
    int len = 0;
    int tail = 0;
    if ((!plaintext.empty() && EVP_EncryptUpdate(ctx.get(), pOut, &len, plaintext.data(),
                                                 static_cast<int>(plaintext.size())) != 1) ||
        EVP_EncryptFinal_ex(ctx.get(), pOut + len, &tail) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kAeadTagBytes,
                            pOut + plaintext.size()) != 1) {
        throw std::runtime_error("AES-256-GCM: sealing failed");
    }
    return out;
}

std::optional<CSecretBytes> AeadOpen(std::span<const std::uint8_t> key,
                                     std::span<const std::uint8_t> nonce, std::string_view aad,
                                     std::string_view ciphertextAndTag) {
    if (ciphertextAndTag.size() < kAeadTagBytes ||
        !SizesFit(key, nonce, aad.size(), ciphertextAndTag.size())) {
        return std::nullopt;
    }
    const std::string_view ciphertext =
        ciphertextAndTag.substr(0, ciphertextAndTag.size() - kAeadTagBytes);
    const std::string_view tag = ciphertextAndTag.substr(ciphertext.size());
    CCipherCtx ctx = StartGcm(false, key, nonce, aad);
    if (!ctx) {
        return std::nullopt;
    }
    CSecretBytes plain(ciphertext.size());
    int len = 0;
    int tail = 0;
    if (!ciphertext.empty() &&
        EVP_DecryptUpdate(ctx.get(), plain.Bytes().data(), &len, Data(ciphertext),
                          static_cast<int>(ciphertext.size())) != 1) {
        return std::nullopt;
    }
    // The tag is set before the final call, which checks it: only then is the plaintext genuine.
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kAeadTagBytes,
                            const_cast<char*>(tag.data())) != 1 ||
        EVP_DecryptFinal_ex(ctx.get(), plain.Bytes().data() + len, &tail) != 1) {
        return std::nullopt;
    }
    return plain;
}

bool CScryptParams::IsAllowed() const {
    if (nLog2N < kMinLog2N || nLog2N > kMaxLog2N || nR < 1 || nR > kMaxR || nP < 1 || nP > kMaxP) {
        return false;
    }
    const std::uint64_t n = std::uint64_t{1} << nLog2N;
    return MemoryBytes() <= kMaxMemoryBytes && n * nR * nP <= kMaxWork;
}

std::uint64_t CScryptParams::MemoryBytes() const {
    const std::uint64_t n = nLog2N < 64 ? std::uint64_t{1} << nLog2N : 0;
    return kScryptBlockBytes * nR * (n + 2 + nP);
}

CSecretBytes DeriveScryptKey(std::string_view passphrase, std::span<const std::uint8_t> salt,
                             const CScryptParams& params) {
    if (!params.IsAllowed()) {
        throw std::runtime_error("scrypt: parameters out of bounds");
    }
    return crypto_detail::DeriveScryptUnbounded(passphrase, salt, std::uint64_t{1} << params.nLog2N,
                                                params.nR, params.nP, kAeadKeyBytes);
}

CSecretBytes crypto_detail::DeriveScryptUnbounded(std::string_view passphrase,
                                                  std::span<const std::uint8_t> salt,
                                                  std::uint64_t n, std::uint32_t r, std::uint32_t p,
                                                  std::size_t nOutBytes) {
    std::unique_ptr<EVP_KDF, CKdfFree> kdf(EVP_KDF_fetch(nullptr, OSSL_KDF_NAME_SCRYPT, nullptr));
    std::unique_ptr<EVP_KDF_CTX, CKdfCtxFree> ctx(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr);
    if (!ctx) {
        throw std::runtime_error("scrypt: the key derivation is not available");
    }
    std::uint64_t maxMem = kScryptBlockBytes * r * (n + 2 + p) + kScryptSlackBytes;
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD,
                                          const_cast<char*>(passphrase.data()), passphrase.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT,
                                          const_cast<std::uint8_t*>(salt.data()), salt.size()),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_N, &n),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_R, &r),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_P, &p),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_MAXMEM, &maxMem),
        OSSL_PARAM_construct_end(),
    };
    CSecretBytes key(nOutBytes);
    if (EVP_KDF_derive(ctx.get(), key.Bytes().data(), key.Size(), params) != 1) {
        throw std::runtime_error("scrypt: the key derivation failed");
    }
    return key;
}
