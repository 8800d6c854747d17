// The escaping that keeps a typed user name from changing the shape of a directory query.
#include "platform/ldap/LdapEscape.h"

#include <gtest/gtest.h>
#include <string>

namespace {

struct SEscapeCase {
    std::string input;
    std::string filterValue;
};

TEST(LdapEscape, NamesCannotBreakOutOfTheirValue) {
    using namespace std::string_literals;
    const SEscapeCase cases[] = {
        {"alice", "alice"},
        {"*", "\\2a"},
        {")(uid=*", "\\29\\28uid=\\2a"},
        {"a\\b", "a\\5cb"},
        {"nul\0x"s, "nul\\00x"},
        {"j\xc3\xbcrgen", "j\\c3\\bcrgen"},
        {"cn=x,dc=y", "cn=x,dc=y"},
        {" #lead trail ", " #lead trail "},
        {"#x", "#x"},
        {"line\nbreak", "line\\0abreak"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LdapEscapeFilterValue(c.input), c.filterValue) << c.input;
    }
}

TEST(LdapEscape, EveryPlaceholderOfAFilterGetsTheEscapedValue) {
    EXPECT_EQ(LdapFillFilter("(&(objectClass=person)(uid=%s))", "a*"),
              "(&(objectClass=person)(uid=a\\2a))");
    EXPECT_EQ(LdapFillFilter("(|(uid=%s)(mail=%s))", "b)"), "(|(uid=b\\29)(mail=b\\29))");
    // A value holding the placeholder itself is not filled in again.
    EXPECT_EQ(LdapFillFilter("(uid=%s)", "%s"), "(uid=%s)");
}

} // namespace
