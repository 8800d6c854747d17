#include "platform/text/TextConv.h"

#include <gtest/gtest.h>
#include <string_view>
#include <utility>

TEST(TextConv, RoundTripsEveryPlane) {
    const std::u16string text = u"admin \u00e9\u4e2d \U0001F600";
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
    EXPECT_EQ(Utf16ToUtf8(u"\u00e9"), "\xC3\xA9");
}

TEST(TextConv, MalformedUtf8BecomesReplacementCharacters) {
    const std::pair<std::string_view, std::u16string_view> cases[] = {
        {"a\x80z", u"a\uFFFDz"},         // a stray continuation byte
        {"\xC0\xAF", u"\uFFFD"},         // an overlong form
        {"\xED\xA0\x80x", u"\uFFFDx"},   // a surrogate
        {"ok\xE4\xB8", u"ok\uFFFD"},     // a truncated sequence
        {"\xF5\x80\x80\x80", u"\uFFFD"}, // past U+10FFFF
    };
    for (const auto& [utf8, utf16] : cases) {
        EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
    }
}

TEST(TextConv, UnpairedSurrogatesEncodeAsReplacement) {
    const std::u16string lone = {u'a', static_cast<char16_t>(0xD800), u'b'};
    EXPECT_EQ(Utf16ToUtf8(lone), "a\xEF\xBF\xBD"
                                 "b");
}

TEST(TextConv, CopyToFieldCutsAtCharacterBoundary) {
    char field[5];
    CopyToField(field, sizeof field, "abcdef");
    EXPECT_STREQ(field, "abcd");
    // "ab" then a 3-byte character that does not fit whole in the 4 bytes left.
    CopyToField(field, sizeof field, "ab\xE4\xB8\xADz");
    EXPECT_STREQ(field, "ab");
    CopyToField(field, sizeof field, "");
    EXPECT_STREQ(field, "");
}
