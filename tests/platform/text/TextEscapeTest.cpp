// Received text shown to the operator: nothing a client or an agent sends reaches the terminal
// or the log as a control character.
#include "platform/text/TextEscape.h"

#include <gtest/gtest.h>
#include <string_view>
#include <utility>

TEST(TextEscape, ControlBytesAndAnythingButPrintableUtf8AreWrittenAsHexEscapes) {
    using namespace std::string_view_literals;
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"service:x://a\x1B]0;pwned\x07\x1B[2Jb\x7F",
         "service:x://a\\x1B]0;pwned\\x07\\x1B[2Jb\\x7F"},
        {"a\tb\r\n\0c"sv, "a\\x09b\\x0D\\x0A\\x00c"},
        {"(hostname=a\\2Cb),~!", "(hostname=a\\2Cb),~!"},
        {"Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x9C\x93 \xF0\x9F\x98\x80",
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x9C\x93 \xF0\x9F\x98\x80"},
        // U+009B is CSI to a terminal, in UTF-8 as much as in a single byte.
        {"\xC2\x9B"
         "2J",
         "\\xC2\\x9B2J"},
        {"\x9B"
         "2J",
         "\\x9B2J"},
        {"a\xC3", "a\\xC3"},                          // cut short
        {"\xC0\xAF", "\\xC0\\xAF"},                   // overlong "/"
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},          // a surrogate
        {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"}, // past U+10FFFF
        {"\xE2\x9C"
         "a",
         "\\xE2\\x9Ca"}, // a sequence broken off
    };
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(EscapeForTerminal(text), shown) << shown;
    }
}

TEST(TextEscape, LogsAlsoEscapeSeparatorsAndBackslashes) {
    const struct {
        std::string_view text;
        std::string_view logged;
    } cases[] = {
        {"a\\x0Ab", "a\\\\x0Ab"},
        {"\xC2\x9B\xC2\x85", "\\xC2\\x9B\\xC2\\x85"},
        {"\xE2\x80\xA8\xE2\x80\xA9", "\\xE2\\x80\\xA8\\xE2\\x80\\xA9"},
        {"\x9B\n", "\\x9B\\x0A"},
        {"Gr\xC3\xBC\xC3\x9F \xE2\x80\xA6", "Gr\xC3\xBC\xC3\x9F \xE2\x80\xA6"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeForLog(c.text), c.logged) << c.text;
    }
    // A terminal shows SLP's own escapes as they are.
    EXPECT_EQ(EscapeForTerminal("a\\2C"), "a\\2C");
}
