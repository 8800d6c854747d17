// The operator's key file; see SealKeyFile.h.
#include "core/seal/SealKeyFile.h"

CSealKeyLoad LoadSealKeyFile(const std::filesystem::path&, std::span<const std::filesystem::path>) {
    return {};
}
std::string CreateSealKeyFile(const std::filesystem::path&) {
    return {};
}
