// Filter and DN value escaping; see LdapEscape.h.
#include "platform/ldap/LdapEscape.h"

#include <array>

namespace {

constexpr std::string_view kHexDigits = "0123456789abcdef";
constexpr std::string_view kPlaceholder = "%s";
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kLastPrintable = 0x7e;

void AppendHex(std::string& out, unsigned char byte) {
    out += '\\';
    out += kHexDigits[byte >> 4U];
    out += kHexDigits[byte & 0x0fU];
}

bool IsPrintableAscii(unsigned char byte) {
    return byte >= kFirstPrintable && byte <= kLastPrintable;
}

} // namespace

std::string LdapEscapeFilterValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (!IsPrintableAscii(byte) || c == '*' || c == '(' || c == ')' || c == '\\') {
            AppendHex(out, byte);
        } else {
            out += c;
        }
    }
    return out;
}

std::string LdapEscapeDnValue(std::string_view value) {
    constexpr std::string_view kSpecial = ",+\"\\<>;=";
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const auto byte = static_cast<unsigned char>(c);
        const bool edgeSpace = c == ' ' && (i == 0 || i + 1 == value.size());
        if (byte < kFirstPrintable || byte == 0x7f) {
            AppendHex(out, byte);
        } else if (kSpecial.find(c) != std::string_view::npos || edgeSpace ||
                   (c == '#' && i == 0)) {
            out += '\\';
            out += c;
        } else {
            out += c;
        }
    }
    return out;
}

std::string LdapFillFilter(std::string_view filterTemplate, std::string_view value) {
    const std::string escaped = LdapEscapeFilterValue(value);
    std::string out;
    std::size_t from = 0;
    for (auto at = filterTemplate.find(kPlaceholder); at != std::string_view::npos;
         at = filterTemplate.find(kPlaceholder, from)) {
        out.append(filterTemplate.substr(from, at - from));
        out += escaped;
        from = at + kPlaceholder.size();
    }
    out.append(filterTemplate.substr(from));
    return out;
}
