// Text a client or an array chooses, as the service writes it: log entries that cannot drive a
// terminal or fake an escape, and "/Query" attribute values that keep every character a
// password may hold and are always well-formed XML.
#include "service/answers/ServerListDocument.h"
#include "service/ServiceLogText.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <string>

namespace {

// The client's line as it stands in a connection entry, behind the connection line.
std::string LoggedLine(std::string_view line) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    ::inet_pton(AF_INET, "10.1.2.3", &peer.sin_addr);
    const std::string entry = ComposeConnectionEntry(1, peer, line, 1262304000);
    return entry.substr(entry.find("GMT\r\n") + 5);
}

TEST(HostileText, LogEntriesEscapeC1ControlsSeparatorsAndBackslashes) {
    const struct {
        std::string_view line;
        std::string_view logged;
    } cases[] = {
        {"GET /\xC2\x9B"
         "2J HTTP/1.0\r\n",
         "GET /\\xC2\\x9B2J HTTP/1.0\r\n"}, // CSI
        {"a\xC2\x85z\n", "a\\xC2\\x85z\n"}, // next line
        {"a\xE2\x80\xA8z\xE2\x80\xA9\n", "a\\xE2\\x80\\xA8z\\xE2\\x80\\xA9\n"},
        {"user\\x0Aroot\n", "user\\\\x0Aroot\n"}, // a literal escape is not one
        {"raw\x9B\n", "raw\xEF\xBF\xBD\n"},       // not UTF-8
        {"caf\xC3\xA9 \xE2\x82\xAC\n", "caf\xC3\xA9 \xE2\x82\xAC\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoggedLine(c.line), c.logged) << c.line;
    }
    // A cut never splits an escaped backslash.
    const std::string cut = LoggedLine(std::string(999, '\\') + "\n");
    EXPECT_TRUE(cut.ends_with("\\\\\n"));
    EXPECT_EQ(cut.find_first_not_of('\\'), cut.size() - 1);
    EXPECT_EQ((cut.size() - 1) % 2, 0u);
}

TEST(HostileText, AttributeValuesKeepWhitespaceAndReplaceWhatXmlCannotHold) {
    const struct {
        std::string_view value;
        std::string_view written;
    } cases[] = {
        {"Z210-R2", "Z210-R2"},
        {"<&>\"'", "&lt;&amp;&gt;&quot;&apos;"},
        {"pass\tword", "pass&#9;word"},
        {"a\r\nb", "a&#13;&#10;b"},
        {std::string_view("\x01x\x1F\0", 4), "\xEF\xBF\xBDx\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"caf\xC3\xA9\xEF\xBB\xBF", "caf\xC3\xA9\xEF\xBB\xBF"}, // U+FEFF is a character
        {"bad\xFF\xFE"
         "end",
         "bad\xEF\xBF\xBD\xEF\xBF\xBD"
         "end"},
        {"\xC3", "\xEF\xBF\xBD"},
        {"x\xEF\xBF\xBEy\xEF\xBF\xBF", "x\xEF\xBF\xBDy\xEF\xBF\xBD"}, // U+FFFE, U+FFFF
    };
    for (const auto& c : cases) {
        std::string out = "<";
        AppendXmlEscaped(out, c.value);
        EXPECT_EQ(out, "<" + std::string(c.written)) << c.value;
    }
}

} // namespace
