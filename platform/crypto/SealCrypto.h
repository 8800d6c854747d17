// The primitives under the sealed file: AES-256-GCM, which keeps the bytes secret and tells any
// change to them or to the header beside them, and scrypt, which turns an operator's passphrase
// into a key at a cost that makes guessing slow.
#pragma once

#include "platform/crypto/CSecretBytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

constexpr std::size_t kAeadKeyBytes = 32, kAeadNonceBytes = 12, kAeadTagBytes = 16;

// Ciphertext followed by the tag. Throws std::runtime_error on a wrong key or nonce size or an
// OpenSSL failure. A nonce must never be used twice under one key.
std::string AeadSeal(std::span<const std::uint8_t> key, std::span<const std::uint8_t> nonce,
                     std::string_view aad, std::span<const std::uint8_t> plaintext);

// The plaintext; none when the tag does not verify (another key, changed bytes or aad), the input
// is shorter than a tag, or the key or nonce has the wrong size.
std::optional<CSecretBytes> AeadOpen(std::span<const std::uint8_t> key,
                                     std::span<const std::uint8_t> nonce, std::string_view aad,
                                     std::string_view ciphertextAndTag);

struct CScryptParams {
    static constexpr std::uint8_t kMinLog2N = 15, kMaxLog2N = 22;
    static constexpr std::uint32_t kMaxR = 32;
    static constexpr std::uint32_t kMaxP = 16;
    // The bounds one by one still allow 2^22 * 32 blocks (16 GiB): a file read from disk must
    // not make us allocate that much, nor spin for minutes, so the products are bounded too:
    // scrypt's memory below 1 GiB, N * r * p at most 64 times the default's.
    static constexpr std::uint64_t kMaxMemoryBytes = std::uint64_t{1} << 30;
    static constexpr std::uint64_t kMaxWork = std::uint64_t{1} << 24; // N * r * p

    std::uint8_t nLog2N = 15;
    std::uint32_t nR = 8;
    std::uint32_t nP = 1;

    // Whether DeriveScryptKey accepts these.
    bool IsAllowed() const;
    // What scrypt allocates for them: 128 * r * (N + p) bytes and a little more.
    std::uint64_t MemoryBytes() const;
    bool operator==(const CScryptParams&) const = default;
};

// 32 bytes from scrypt; throws std::runtime_error on parameters out of bounds or a KDF failure.
CSecretBytes DeriveScryptKey(std::string_view passphrase, std::span<const std::uint8_t> salt,
                             const CScryptParams& params);

namespace crypto_detail {
// scrypt without the bounds, for known-answer tests at a cost below the floor of real keys.
CSecretBytes DeriveScryptUnbounded(std::string_view passphrase, std::span<const std::uint8_t> salt,
                                   std::uint64_t n, std::uint32_t r, std::uint32_t p,
                                   std::size_t nOutBytes);
} // namespace crypto_detail
