// The dotted-quad check, by hand: the C library's parsers accept the short and octal forms.
#include "platform/text/Ipv4Literal.h"

namespace {

constexpr int kOctets = 4;
constexpr int kMaxOctetDigits = 3;
constexpr int kMaxOctet = 255;
constexpr int kDecimalBase = 10;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// One octet at the front of text, taken off it; false when text does not start with one.
bool TakeOctet(std::string_view& text) {
    std::size_t digits = 0;
    int value = 0;
    while (digits < text.size() && IsDigit(text[digits])) {
        if (digits == kMaxOctetDigits) {
            return false;
        }
        value = value * kDecimalBase + (text[digits] - '0');
        ++digits;
    }
    // A leading zero would read as octal to some parsers.
    if (digits == 0 || value > kMaxOctet || (digits > 1 && text[0] == '0')) {
        return false;
    }
    text.remove_prefix(digits);
    return true;
}

} // namespace

bool IsIpv4Literal(std::string_view text) {
    for (int octet = 0; octet < kOctets; ++octet) {
        if (octet > 0) {
            if (text.empty() || text[0] != '.') {
                return false;
            }
            text.remove_prefix(1);
        }
        if (!TakeOctet(text)) {
            return false;
        }
    }
    return text.empty();
}
