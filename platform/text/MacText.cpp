// MAC address keys and checks; see MacText.h.
#include "platform/text/MacText.h"

#include "platform/text/TextUtil.h"

#include <cctype>

namespace {

bool IsSeparator(char c) {
    return c == ':' || c == '-' || c == '.';
}

} // namespace

std::string MacKey(std::string_view text) {
    std::string key;
    key.reserve(text.size());
    for (const char c : text) {
        if (!IsSeparator(c)) {
            key += AsciiLower(c);
        }
    }
    return key;
}

bool IsMacAddress(std::string_view text) {
    constexpr std::size_t kPairs = 6;
    constexpr std::size_t kLength = kPairs * 3 - 1;
    if (text.size() != kLength || (text[2] != ':' && text[2] != '-')) {
        return false;
    }
    for (std::size_t i = 0; i < kLength; ++i) {
        const bool bSeparatorPlace = i % 3 == 2;
        const auto c = static_cast<unsigned char>(text[i]);
        if (bSeparatorPlace ? text[i] != text[2] : std::isxdigit(c) == 0) {
            return false;
        }
    }
    return true;
}
