// Base64 both ways, the small text helpers of protocol and configuration text, and the plain
// IPv4 address check.
#include "platform/text/Base64.h"
#include "platform/text/FormatText.h"
#include "platform/text/Ipv4Literal.h"
#include "platform/text/TextUtil.h"

#include <gtest/gtest.h>
#include <string_view>
#include <utility>

TEST(Base64Decode, SkipsBytesOutsideTheAlphabetNeedsNoPaddingAndStopsAtLatePadding) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"YWRtaW46OTk4Mw==", "admin:9983"},
        {"YWRt aW46\r\nOTk4 Mw", "admin:9983"},
        {"YWRtaW46OTk4Mw==\r\n", "admin:9983"},
        {"\x80YW\xffJ0", "abt"},
        // Short groups.
        {"Y", ""},
        {"YQ", "a"},
        {"YWI", "ab"},
        {"", ""},
        // An equals sign in the third or fourth place ends the text; in the first two it is
        // skipped.
        {"YQ==YWJj", "a"},
        {"=Y=Q", "a"},
    };
    for (const auto& [encoded, plain] : cases) {
        EXPECT_EQ(Base64Decode(encoded), plain) << encoded;
    }
}

TEST(Base64Encode, PadsToWholeGroupsWithoutLineBreaks) {
    // RFC 4648, section 10.
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(Base64Encode(plain), encoded) << plain;
    }
    EXPECT_EQ(Base64Encode(std::string(100, 'x')).find('\n'), std::string::npos);
}

TEST(Base64Encode, EveryByteValueRoundTripsThroughTheDecoder) {
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        bytes += static_cast<char>(255 - i);
    }
    for (std::size_t n = 0; n <= 5; ++n) {
        const std::string piece = bytes.substr(n);
        EXPECT_EQ(Base64Decode(Base64Encode(piece)), piece) << n;
    }
}

TEST(TextUtil, TrimSplitAndFold) {
    EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
    EXPECT_EQ(Trim(" \t\r\n"), "");
    EXPECT_EQ(SplitList(" a, ,b ,,c"), (std::vector<std::string_view>{"a", "b", "c"}));
    EXPECT_TRUE(SplitList(" , ").empty());
    EXPECT_EQ(FoldWhiteSpaceLower("  Service:RAID \t X  "), "service:raid x");
}

TEST(TextUtil, CompareWithoutCase) {
    const struct {
        std::string_view text, other;
        bool equal, startsWith;
    } cases[] = {
        {"PoSt", "post", true, true},
        {"post", "posts", false, false},
        {"posts", "post", false, true},
        {"/updateadminpasswd?x", "/UpdateAdminPasswd?", false, true},
        {"/Upd", "/UpdateAdminPasswd?", false, false},
        // Only ASCII letters fold: bytes above 127 compare as they are.
        {"\xC3\xA9", "\xC3\x89", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EqualsNoCase(c.text, c.other), c.equal) << c.text << " / " << c.other;
        EXPECT_EQ(StartsWithNoCase(c.text, c.other), c.startsWith) << c.text << " / " << c.other;
    }
}

TEST(IsIpv4Literal, OnlyFourPlainDecimalOctetsAreAnAddress) {
    for (const char* text : {"0.0.0.0", "10.77.1.1", "255.255.255.255", "192.168.100.9"}) {
        EXPECT_TRUE(IsIpv4Literal(text)) << text;
    }
    // Names, the forms a resolver also reads as addresses, and anything around an address.
    for (const char* text : {"",          "localhost",  "array-7.lan", "2130706433",
                             "127.1",     "127.0.1",    "0x7f.0.0.1",  "017.0.0.1",
                             "1.2.3.04",  "00.0.0.0",   "+1.2.3.4",    "1.2.3.-4",
                             "256.0.0.1", "1.2.3.1000", "1.2.3",       "1.2.3.4.",
                             ".1.2.3.4",  "1.2.3.4.5",  "1..2.3",      "1.2.3.4 ",
                             " 1.2.3.4",  "1.2.3.4:80", "[::1]",       "\xef\xbc\x91.2.3.4"}) {
        EXPECT_FALSE(IsIpv4Literal(text)) << text;
    }
    EXPECT_FALSE(IsIpv4Literal(std::string_view("1.2.3.4\0", 8)));
}

TEST(FormatText, FillsNumberedMarkersOnceAndLeavesTheRest) {
    const struct {
        std::u16string_view pattern;
        std::initializer_list<std::u16string_view> args;
        std::u16string_view expected;
    } cases[] = {
        {u"Exported %1 and %2 to %3",
         {u"2 users", u"1 group", u"/tmp/a.ovx"},
         u"Exported 2 users and 1 group to /tmp/a.ovx"},
        {u"%2 before %1", {u"a", u"b"}, u"b before a"},
        // An argument that looks like a marker is not filled again.
        {u"%1 and %2", {u"%2", u"x"}, u"%2 and x"},
        // Markers without an argument, a lone '%' and "%0" stay.
        {u"%1 %3 100% %0 %", {u"a"}, u"a %3 100% %0 %"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatText(c.pattern, c.args), c.expected);
    }
}
