// Numbered markers in fixed texts; see FormatText.h.
#include "platform/text/FormatText.h"

std::u16string FormatText(std::u16string_view pattern,
                          std::initializer_list<std::u16string_view> args) {
    std::u16string out;
    out.reserve(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i];
        const char16_t next = i + 1 < pattern.size() ? pattern[i + 1] : u'\0';
        const std::size_t n = next >= u'1' && next <= u'9' ? std::size_t(next - u'0') : 0;
        if (c == u'%' && n != 0 && n <= args.size()) {
            out += *(args.begin() + (n - 1));
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}
