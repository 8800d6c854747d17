// Received text made safe to show: control bytes written as "\xNN" (two upper-case hex digits),
// so that what a client or an agent sends can neither drive the operator's terminal nor start a
// line of a log of its own.
#pragma once

#include <string>
#include <string_view>

// Bytes below 0x20 and 0x7F.
constexpr bool IsControlCode(unsigned c) {
    constexpr unsigned kFirstPrintable = 0x20;
    constexpr unsigned kDelete = 0x7F;
    return c < kFirstPrintable || c == kDelete;
}

// "\xNN" for c, in 8-bit or wide text.
template <class String>
void AppendHexEscape(unsigned c, String& out) {
    constexpr std::string_view kHex = "0123456789ABCDEF";
    constexpr unsigned kNibble = 4;
    constexpr unsigned kNibbleMask = 0xF;
    out += static_cast<typename String::value_type>('\\');
    out += static_cast<typename String::value_type>('x');
    out += static_cast<typename String::value_type>(kHex[(c >> kNibble) & kNibbleMask]);
    out += static_cast<typename String::value_type>(kHex[c & kNibbleMask]);
}

// Control bytes escaped; everything else, UTF-8 included, as it is.
std::string EscapeControlBytes(std::string_view text);

// For a terminal: control bytes, the C1 controls (U+0080 to U+009F) and bytes that are not
// well-formed UTF-8 escaped; printable UTF-8 and backslashes as they are.
std::string EscapeForTerminal(std::string_view text);
