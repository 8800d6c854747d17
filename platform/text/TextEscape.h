// Received text made safe to show: control bytes written as "\xNN" (two upper-case hex digits),
// so that what a client or an agent sends can neither drive the operator's terminal nor start a
// line of a log of its own. In a log a backslash is written "\\" as well, so that a client's
// own "\x0A" cannot pass for an escape.
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

// Code points that a log shows escaped besides the control bytes: the C1 controls (U+0080 to
// U+009F, U+0085 among them) and the line and paragraph separators U+2028 and U+2029.
constexpr bool IsEscapedInLog(char32_t c) {
    constexpr char32_t kFirstC1 = 0x80;
    constexpr char32_t kLastC1 = 0x9F;
    constexpr char32_t kLineSeparator = 0x2028;
    constexpr char32_t kParagraphSeparator = 0x2029;
    return IsControlCode(c) || (c >= kFirstC1 && c <= kLastC1) || c == kLineSeparator ||
           c == kParagraphSeparator;
}

// For a log line: what EscapeForTerminal escapes, U+2028 and U+2029 (each of their bytes), and
// a backslash as "\\".
std::string EscapeForLog(std::string_view text);

// For a terminal: control bytes, the C1 controls (U+0080 to U+009F) and bytes that are not
// well-formed UTF-8 escaped; printable UTF-8 and backslashes as they are.
std::string EscapeForTerminal(std::string_view text);

// For a window: what EscapeForTerminal escapes, escaped the same way ("\x0D"), so that a name
// from the network cannot hide or rewrite what a cell shows, and reads as orvanectl prints it.
std::u16string ShowControls(std::u16string_view text);
