// Name comparison on ICU's character properties.
#include "platform/text/NameText.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

namespace {

// Calls f with each code point of text; an unpaired surrogate is passed as itself.
template <typename F>
void ForEachCodePoint(std::u16string_view text, F f) {
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U16_NEXT(text.data(), i, length, c);
        f(c);
    }
}

} // namespace

bool IsBlankText(std::u16string_view text) {
    bool bBlank = true;
    ForEachCodePoint(text, [&bBlank](UChar32 c) { bBlank = bBlank && u_isUWhiteSpace(c) != 0; });
    return bBlank;
}

std::u16string FoldCase(std::u16string_view text) {
    std::u16string folded;
    folded.reserve(text.size());
    ForEachCodePoint(text, [&folded](UChar32 c) {
        const UChar32 f = u_foldCase(c, U_FOLD_CASE_DEFAULT);
        if (U_IS_BMP(f)) {
            folded.push_back(static_cast<char16_t>(f));
        } else {
            folded.push_back(static_cast<char16_t>(U16_LEAD(f)));
            folded.push_back(static_cast<char16_t>(U16_TRAIL(f)));
        }
    });
    return folded;
}

bool DifferInCaseOnly(std::u16string_view a, std::u16string_view b) {
    return a != b && FoldCase(a) == FoldCase(b);
}
