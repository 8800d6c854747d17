// HMAC-SHA-256 over OpenSSL's one-shot call.
#include "platform/crypto/KeyedHash.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <stdexcept>

KeyedHashValue KeyedHash(std::span<const std::uint8_t> key, std::span<const std::uint8_t> data) {
    KeyedHashValue out{};
    unsigned int nOut = 0;
    if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), data.data(), data.size(),
             out.data(), &nOut) == nullptr ||
        nOut != out.size()) {
        throw std::runtime_error("HMAC-SHA-256 failed");
    }
    return out;
}
