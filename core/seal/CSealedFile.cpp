// The sealed file's format; see CSealedFile.h.
#include "core/seal/CSealedFile.h"

std::string_view SealErrorText(ESealError) {
    return {};
}
std::string SealErrorText(ESealError eError, std::uint16_t) {
    return std::string(SealErrorText(eError));
}
std::string SealFile(const CSealHeader&, std::span<const std::uint8_t>,
                     std::span<const CSealedAuthorization>) {
    return {};
}
CSealHeaderRead ReadSealHeader(std::string_view) {
    return {};
}
CSealOpened OpenSealedFile(std::string_view, std::span<const std::uint8_t>) {
    return {};
}
