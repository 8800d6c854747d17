// Filter value escaping; see LdapEscape.h.
#include "platform/ldap/LdapEscape.h"

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
