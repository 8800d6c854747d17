#include "platform/text/TextConv.h"

#include <cstdint>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Length of the sequence a lead byte starts, or 0 for a byte that cannot lead one.
int SequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

// Bounds of the second byte, which rule out overlong forms, surrogates and values past U+10FFFF.
bool SecondByteValid(unsigned char lead, unsigned char second) {
    switch (lead) {
    case 0xE0:
        return second >= 0xA0 && second <= 0xBF;
    case 0xED:
        return second >= 0x80 && second <= 0x9F;
    case 0xF0:
        return second >= 0x90 && second <= 0xBF;
    case 0xF4:
        return second >= 0x80 && second <= 0x8F;
    default:
        return second >= 0x80 && second <= 0xBF;
    }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
        return;
    }
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Number of bytes of a valid sequence at text[i], or 0 when it is malformed or cut short.
std::size_t ValidSequenceAt(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int len = SequenceLength(lead);
    if (len == 0 || i + len > text.size()) {
        return 0;
    }
    if (len > 1 && !SecondByteValid(lead, static_cast<unsigned char>(text[i + 1]))) {
        return 0;
    }
    for (int k = 2; k < len; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if (b < 0x80 || b > 0xBF) {
            return 0;
        }
    }
    return static_cast<std::size_t>(len);
}

} // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t len = ValidSequenceAt(text, i);
        if (len == 0) {
            // One replacement per maximal invalid prefix: skip continuation bytes that follow.
            out.push_back(static_cast<char16_t>(kReplacement));
            ++i;
            while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80 &&
                   ValidSequenceAt(text, i) == 0) {
                ++i;
            }
            continue;
        }
        const auto lead = static_cast<unsigned char>(text[i]);
        char32_t cp = len == 1 ? lead : lead & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        AppendUtf16(out, cp);
        i += len;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

void CopyToField(char* field, std::size_t capacity, std::string_view text) {
    if (capacity == 0) {
        return;
    }
    std::size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    if (n < text.size()) {
        // Back up to the start of a sequence so the field never ends in half a character.
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
            --n;
        }
    }
    text.copy(field, n);
    field[n] = '\0';
}
