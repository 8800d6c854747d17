#include "platform/text/TextEscape.h"

#include "platform/text/TextConv.h"

#include <algorithm>

namespace {

constexpr char32_t kFirstC1 = 0x80;
constexpr char32_t kLastC1 = 0x9F;
constexpr char32_t kFirstSurrogate = 0xD800;
constexpr char32_t kLastSurrogate = 0xDFFF;
constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kFirstPrintable = 0x20;

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence of a printable character at the start of text,
// 0 when there is none; for a log, the separators U+2028 and U+2029 are not printable either.
std::size_t PrintableSequence(std::string_view text, bool bLog) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    char32_t point = 0;
    char32_t smallest = 0; // below it the sequence is overlong
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        point = lead & 0x1F;
        smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        point = lead & 0x0F;
        smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        point = lead & 0x07;
        smallest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (!IsContinuation(byte)) {
            return 0;
        }
        point = point << 6 | (byte & 0x3F);
    }
    const bool c1 = point >= kFirstC1 && point <= kLastC1;
    const bool surrogate = point >= kFirstSurrogate && point <= kLastSurrogate;
    if (point < smallest || point > kLastCodePoint || c1 || surrogate ||
        (bLog && IsEscapedInLog(point))) {
        return 0;
    }
    return length;
}

std::string Escape(std::string_view text, bool bLog) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (bLog && byte == '\\') {
            out += "\\\\";
            ++i;
            continue;
        }
        if (byte >= kFirstPrintable && byte < kDelete) {
            out += text[i++];
            continue;
        }
        std::size_t length = byte > kDelete ? PrintableSequence(text.substr(i), bLog) : 0;
        if (length == 0) {
            AppendHexEscape(byte, out);
            ++i;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

} // namespace

std::string EscapeForTerminal(std::string_view text) {
    return Escape(text, false);
}

std::string EscapeForLog(std::string_view text) {
    return Escape(text, true);
}

std::u16string ShowControls(std::u16string_view text) {
    // Most names hold none: they are shown as they are, without a copy through UTF-8.
    const bool bAny = std::any_of(text.begin(), text.end(), [](char16_t c) {
        return IsControlCode(c) || (c >= kFirstC1 && c <= kLastC1);
    });
    if (!bAny) {
        return std::u16string(text);
    }
    return Utf8ToUtf16(EscapeForTerminal(Utf16ToUtf8(text)));
}
