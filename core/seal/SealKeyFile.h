// The key file an operator gives at start instead of a passphrase: 32 bytes, raw or as 64 hex
// digits. It is refused unless it is the user's own, private, regular file kept away from the
// store and the served folder, since a key beside what it locks protects nothing.
#pragma once

#include "platform/crypto/CSecretBytes.h"

#include <filesystem>
#include <span>
#include <string>

struct CSealKeyLoad {
    CSecretBytes key;
    std::string strError; // empty when key holds the key
};
CSealKeyLoad LoadSealKeyFile(const std::filesystem::path& file,
                             std::span<const std::filesystem::path> forbiddenFolders);

// A new key file of 32 random bytes as 64 lowercase hex digits and a newline, mode 0600; never
// over an existing file. Empty on success, else the reason.
std::string CreateSealKeyFile(const std::filesystem::path& file);
