// Attribute lists: escapes, structure, tag matching and the SLPParseAttrs entry point.
#include "platform/slp/CSlpAttrList.h"

#include "platform/slp/slp.h"

#include <gtest/gtest.h>

TEST(SlpAttrList, ReservedCharactersRoundTripThroughEscapes) {
    std::string value = "a,b (c)=d \\e !<>~\x01";
    std::string escaped = CSlpAttrList::Escape(value);
    EXPECT_EQ(escaped, "a\\2Cb \\28c\\29\\3Dd \\5Ce \\21\\3C\\3E\\7E\\01");
    EXPECT_EQ(CSlpAttrList::Unescape(escaped), value);
    EXPECT_EQ(CSlpAttrList::Unescape("\\2c\\2C"), ",,");
}

TEST(SlpAttrList, BrokenEscapesAreErrors) {
    EXPECT_FALSE(CSlpAttrList::Unescape("abc\\"));
    EXPECT_FALSE(CSlpAttrList::Unescape("abc\\4"));
    EXPECT_FALSE(CSlpAttrList::Unescape("\\zz"));
    EXPECT_FALSE(CSlpAttrList::Find("(mac=\\zz),(hostname=x)", "mac"));
    // Only the asked-for value has to be sound.
    EXPECT_EQ(CSlpAttrList::Find("(mac=\\zz),(hostname=x)", "hostname"), "x");
}

TEST(SlpAttrList, ListsAreParsedIntoAttributesAndKeywords) {
    auto attrs = CSlpAttrList::Parse("(mac=00:11),(hostname=a\\2Cb),secure,(list=1,2,3)");
    ASSERT_TRUE(attrs);
    ASSERT_EQ(attrs->size(), 4u);
    EXPECT_EQ((*attrs)[0].tag, "mac");
    EXPECT_EQ((*attrs)[0].value, "00:11");
    EXPECT_EQ((*attrs)[2].tag, "secure");
    EXPECT_FALSE((*attrs)[2].value);
    EXPECT_EQ((*attrs)[3].value, "1,2,3");
    EXPECT_TRUE(CSlpAttrList::Parse("")->empty());
}

TEST(SlpAttrList, MalformedListsAreRefused) {
    for (const char* list :
         {"(mac=1", "(mac=1)(b=2)", "(mac=1),", ",(mac=1)", "(=1)", "a(b", "(mac=1),,(b=2)",
          "key=word", "((a=1)", "(a=b(c),(d=1)", "(mac=1), (b=2)"}) {
        EXPECT_FALSE(CSlpAttrList::Parse(list)) << list;
    }
}

// One bad part from an agent must not cost the attributes around it: a server whose "mac" is
// lost is filed under the empty key together with every other such server.
TEST(SlpAttrList, FindSkipsMalformedPartsAndReadsTheRest) {
    const std::string mac = "00:11:22:33:44:55";
    const std::string unbalanced = "(mac=" + mac + "),(hostname=a1),(vendor=Foo (EU))";
    const std::string blank = "(mac=" + mac + "), (hostname=a1)";
    const std::string empty = "(mac=" + mac + "),,(hostname=a1)";
    for (const std::string& list : {unbalanced, blank, empty}) {
        EXPECT_EQ(CSlpAttrList::Find(list, "mac"), mac) << list;
    }
    EXPECT_EQ(CSlpAttrList::Find(unbalanced, "hostname"), "a1");
    EXPECT_EQ(CSlpAttrList::Find(empty, "hostname"), "a1");
    // The broken part is the asked-for attribute itself: nothing is guessed out of it.
    EXPECT_FALSE(CSlpAttrList::Find(unbalanced, "vendor"));
    EXPECT_FALSE(CSlpAttrList::Find(blank, "hostname"));
    EXPECT_FALSE(CSlpAttrList::Find("(mac=00:11 (x)),(hostname=a1)", "mac"));
    EXPECT_EQ(CSlpAttrList::Find("(mac=00:11 (x)),(hostname=a1)", "hostname"), "a1");
    // Damage before the wanted part: reading picks up again after the next comma.
    EXPECT_EQ(CSlpAttrList::Find("(vendor=Foo, Inc (EU)),(mac=1)", "mac"), "1");
    EXPECT_EQ(CSlpAttrList::Find("a(b,(mac=1)", "mac"), "1");
    EXPECT_EQ(CSlpAttrList::Find(",(mac=1),", "mac"), "1");
    EXPECT_FALSE(CSlpAttrList::Find("(vendor=x,(mac=1)", "mac")); // unclosed: swallows the rest
}

TEST(SlpAttrList, TagsMatchWithoutCaseAndWithFoldedBlanks) {
    EXPECT_TRUE(CSlpAttrList::TagsEqual("MAC", "mac"));
    EXPECT_TRUE(CSlpAttrList::TagsEqual("  host   name ", "host name"));
    EXPECT_FALSE(CSlpAttrList::TagsEqual("hostname", "host"));
    EXPECT_TRUE(CSlpAttrList::TagSelected("", "mac"));
    EXPECT_TRUE(CSlpAttrList::TagSelected("vendor, mac", "MAC"));
    EXPECT_TRUE(CSlpAttrList::TagSelected("host*", "hostname"));
    EXPECT_TRUE(CSlpAttrList::TagSelected("*name", "hostname"));
    EXPECT_FALSE(CSlpAttrList::TagSelected("model,type", "mac"));
}

TEST(SlpParseAttrs, ReturnsTheUnescapedValueOrParseError) {
    const char* list = "(mac=02:4f:52:00:00:01),(hostname=array\\2C one),raid6";
    char* value = nullptr;
    ASSERT_EQ(SLPParseAttrs(list, "hostname", &value), SLP_OK);
    EXPECT_STREQ(value, "array, one");
    SLPFree(value);
    ASSERT_EQ(SLPParseAttrs(list, "raid6", &value), SLP_OK);
    EXPECT_STREQ(value, "");
    SLPFree(value);
    EXPECT_EQ(SLPParseAttrs(list, "model", &value), SLP_PARSE_ERROR);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(SLPParseAttrs("(mac=1", "mac", &value), SLP_PARSE_ERROR);
    ASSERT_EQ(SLPParseAttrs("(mac=1),(hostname=a1),(vendor=Foo (EU))", "mac", &value), SLP_OK);
    EXPECT_STREQ(value, "1");
    SLPFree(value);
    EXPECT_EQ(SLPParseAttrs("(mac=1),(hostname=a1),(vendor=Foo (EU))", "vendor", &value),
              SLP_PARSE_ERROR);
    EXPECT_EQ(SLPParseAttrs(nullptr, "mac", &value), SLP_PARAMETER_BAD);
    EXPECT_EQ(SLPParseAttrs(list, "mac", nullptr), SLP_PARAMETER_BAD);
}
