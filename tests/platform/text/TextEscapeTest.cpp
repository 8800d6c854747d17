// Received text shown to the operator: nothing a client or an agent sends reaches the terminal
// or the log as a control character.
#include "platform/text/TextEscape.h"

#include <gtest/gtest.h>

TEST(TextEscape, ControlBytesAreWrittenAsHexEscapes) {
    EXPECT_EQ(EscapeForTerminal("service:x://a\x1B]0;pwned\x07\x1B[2Jb\x7F"),
              "service:x://a\\x1B]0;pwned\\x07\\x1B[2Jb\\x7F");
    EXPECT_EQ(EscapeForTerminal(std::string("a\tb\r\n\0c", 7)), "a\\x09b\\x0D\\x0A\\x00c");
    EXPECT_EQ(EscapeForTerminal("(hostname=a\\2Cb),~!"), "(hostname=a\\2Cb),~!");
}

TEST(TextEscape, PrintableUtf8StaysAndAnythingElseAbove127IsEscaped) {
    EXPECT_EQ(EscapeForTerminal("Gr\xC3\xBC\xC3\x9F"
                                "e \xE2\x9C\x93 \xF0\x9F\x98\x80"),
              "Gr\xC3\xBC\xC3\x9F"
              "e \xE2\x9C\x93 \xF0\x9F\x98\x80");
    // U+009B is CSI to a terminal, in UTF-8 as much as in a single byte.
    EXPECT_EQ(EscapeForTerminal("\xC2\x9B"
                                "2J"),
              "\\xC2\\x9B2J");
    EXPECT_EQ(EscapeForTerminal("\x9B"
                                "2J"),
              "\\x9B2J");
    EXPECT_EQ(EscapeForTerminal("a\xC3"), "a\\xC3");                          // cut short
    EXPECT_EQ(EscapeForTerminal("\xC0\xAF"), "\\xC0\\xAF");                   // overlong "/"
    EXPECT_EQ(EscapeForTerminal("\xED\xA0\x80"), "\\xED\\xA0\\x80");          // a surrogate
    EXPECT_EQ(EscapeForTerminal("\xF4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80"); // past U+10FFFF
    EXPECT_EQ(EscapeForTerminal("\xE2\x9C"
                                "a"),
              "\\xE2\\x9Ca");
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
