// A keyed hash (HMAC-SHA-256): a digest of secrets that can be kept in memory and compared, but
// neither reversed nor guessed at without the key, which never leaves the process.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::size_t kKeyedHashBytes = 32;
using KeyedHashValue = std::array<std::uint8_t, kKeyedHashBytes>;

// Throws std::runtime_error on an OpenSSL failure.
KeyedHashValue KeyedHash(std::span<const std::uint8_t> key, std::span<const std::uint8_t> data);
