// Names compared as people type them: white space of every script, and letter case by simple
// folding, outside the ASCII range and beyond the Basic Multilingual Plane.
#include "platform/text/NameText.h"

#include <gtest/gtest.h>
#include <string_view>

TEST(NameText, BlankMeansWhiteSpaceOfAnyScriptOnly) {
    const struct {
        std::u16string_view text;
        bool bBlank;
    } cases[] = {
        {u"", true},
        {u" \t\r\n", true},
        {u"\u00a0", true},                   // no-break space
        {u"\u3000\u2003\u2028\u0085", true}, // ideographic, em space, line separator, NEL
        {u"\u00a0bob\u3000", false},
        {u"\u200b", false}, // zero-width space is a format character, not white space
        {u"_", false},
        {u"\xd800", false}, // an unpaired surrogate is text
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsBlankText(c.text), c.bBlank) << testing::PrintToString(std::u16string(c.text));
    }
}

TEST(NameText, CaseTwinsDifferInSimpleCaseFoldingOnly) {
    const struct {
        std::u16string_view a;
        std::u16string_view b;
        bool bTwins;
    } cases[] = {
        {u"Admin", u"admin", true},
        {u"\u00c4DMIN", u"\u00e4dmin", true},     // ÄDMIN, ädmin
        {u"\u039f\u03a3", u"\u03bf\u03c2", true}, // final sigma folds to sigma
        {u"\u1e9e", u"\u00df", true},             // capital sharp s
        {u"\U00010400", u"\U00010428", true},     // beyond the BMP (Deseret)
        {u"admin", u"admin", false},              // the same text is no twin
        {u"stra\u00dfe", u"STRASSE", false},      // one letter for two is full folding
        {u"\u00a0admin", u"admin", false},        // padding is not letter case
        {u"\xd800", u"\xd800", false},
        {u"a\xdc00", u"A\xdc00", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DifferInCaseOnly(c.a, c.b), c.bTwins)
            << testing::PrintToString(std::u16string(c.a));
        EXPECT_EQ(DifferInCaseOnly(c.b, c.a), c.bTwins);
    }
}
