// Reading a secret (the directory's search password) from a file that only its owner may read:
// a file that others could read, or that another user could have written, is refused rather than
// trusted.
#pragma once

#include "platform/crypto/CSecretBytes.h"

#include <filesystem>
#include <string>

// The file's bytes less one trailing line break, into secret. Returns the reason it was refused,
// empty on success: not a regular file (a symbolic link included), not owned by this process's
// user, readable or writable by group or others, empty, or larger than a password can be.
std::string ReadOwnSecretFile(const std::filesystem::path& path, CSecretBytes& secret);
