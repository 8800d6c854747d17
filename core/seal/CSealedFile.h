// The sealed file's format, as pure functions over bytes: a fixed little-endian header, a nonce,
// and the records sealed with AES-256-GCM under the header and nonce as associated data, so that
// a changed header (a weaker scrypt, another key source) fails the tag like a changed record.
#pragma once

#include "core/seal/CSealedAuthorization.h"
#include "platform/crypto/SealCrypto.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class ESealKeySource : std::uint8_t { KeyFile = 1, Passphrase = 2 };

struct CSealHeader {
    static constexpr std::uint16_t kCurrentVersion = 1;
    std::uint16_t nVersion = kCurrentVersion;
    ESealKeySource eSource = ESealKeySource::KeyFile;
    // Meaningful for a passphrase only; a key file's header holds zeros and the defaults.
    std::array<std::uint8_t, 16> salt{};
    CScryptParams scrypt;
    bool operator==(const CSealHeader&) const = default;
};

enum class ESealError {
    None,
    NotFound,
    Unreadable,
    NotSealedFile,
    UnknownVersion,
    BadParameters,
    TagMismatch,
    BadRecords
};

// The operator's sentence for an error.
std::string_view SealErrorText(ESealError eError);

// The whole file. Throws std::invalid_argument for a header that ReadSealHeader would refuse,
// std::runtime_error when the cipher or the random generator fails.
std::string SealFile(const CSealHeader& header, std::span<const std::uint8_t> key,
                     std::span<const CSealedAuthorization> records);

struct CSealHeaderRead {
    ESealError eError = ESealError::None;
    // As far as it was read: nVersion is set for UnknownVersion.
    CSealHeader header;
};
// Checks magic, length, version, key source and the scrypt bounds, so that a passphrase key is
// derived (with the header's salt) only for a file that may open.
CSealHeaderRead ReadSealHeader(std::string_view file);

struct CSealOpened {
    ESealError eError = ESealError::None;
    std::vector<CSealedAuthorization> records;
    std::uint16_t nVersion = 0; // the file's format, when its header was read
};
// Never throws and never trusts a count or length beyond the bytes that are left.
CSealOpened OpenSealedFile(std::string_view file, std::span<const std::uint8_t> key);
