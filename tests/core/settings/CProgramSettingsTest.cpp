// The settings file: what it is read as, and every malformed file refused with its line and a
// reason the operator can act on, before anything of it takes effect.
#include "core/settings/CProgramSettings.h"

#include "tests/support/CTempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

constexpr std::string_view kMinimal = "[ldap]\nuri = ldaps://dir.example\nbase = dc=example\n";

SSettingsLoad ParseIn(const CTempDir& dir, std::string_view text) {
    return CProgramSettings::Parse(text, dir.Path());
}

TEST(ProgramSettings, AFullSectionIsReadWithItsValuesTrimmedAndTheRestDefaulted) {
    const CTempDir dir;
    dir.Write("ca.pem", "x");
    dir.Write("pw", "s3cret\n");
    ::chmod((dir / "pw").c_str(), 0600);
    const SSettingsLoad load = ParseIn(dir, "\xef\xbb\xbf# site directory\n"
                                            "[ ldap ]\r\n"
                                            "  uri =  ldaps://a.example  ldap://b.example:389 \n"
                                            "; the second needs it\n"
                                            "starttls = true\n\n"
                                            "ca_file = ca.pem\n"
                                            "base = dc=example,dc=com\n"
                                            "bind_dn = cn=reader,dc=example,dc=com\n"
                                            "bind_password_file = pw\n"
                                            "group_filter = (member=%s)\n"
                                            "timeout = 60\n"
                                            "cache_seconds = 0\n");
    ASSERT_TRUE(load.Ok()) << load.error->Text();
    ASSERT_TRUE(load.ldap);
    const CLdapSettings& s = *load.ldap;
    EXPECT_EQ(s.uris, (std::vector<std::string>{"ldaps://a.example", "ldap://b.example:389"}));
    EXPECT_EQ(s.caFile, dir / "ca.pem");
    EXPECT_EQ(s.userFilter, CLdapSettings::kDefaultUserFilter);
    EXPECT_EQ(std::string(s.bindPassword.Bytes().begin(), s.bindPassword.Bytes().end()), "s3cret");
    EXPECT_EQ(s.groupFilter, "(member=%s)");
    EXPECT_TRUE(s.groupAttribute.empty());
    EXPECT_EQ(s.timeout, std::chrono::seconds(60));
    EXPECT_EQ(s.cacheTime, std::chrono::seconds(0));

    const SSettingsLoad minimal = ParseIn(dir, kMinimal);
    ASSERT_TRUE(minimal.Ok() && minimal.ldap);
    EXPECT_EQ(minimal.ldap->groupAttribute, "memberOf");
    EXPECT_EQ(minimal.ldap->timeout, std::chrono::seconds(5));
    EXPECT_EQ(minimal.ldap->cacheTime, CLdapSettings::kMaxCacheTime);
    EXPECT_TRUE(minimal.ldap->bindDn.empty());
}

TEST(ProgramSettings, NoFileOrAnEmptyOneMeansNoDirectory) {
    const CTempDir dir;
    const SSettingsLoad missing = CProgramSettings::Load(dir / "orvanesrv.conf");
    EXPECT_TRUE(missing.Ok());
    EXPECT_FALSE(missing.ldap);
    dir.Write("orvanesrv.conf", "# nothing yet\n");
    EXPECT_TRUE(CProgramSettings::Load(dir / "orvanesrv.conf").Ok());
    EXPECT_FALSE(CProgramSettings::Load(dir.Path()).Ok()); // a folder is no settings file
}

struct SMalformed {
    const char* text;
    int line;
    const char* reason;
};

TEST(ProgramSettings, MalformedFilesAreRefusedWithTheLineAndReason) {
    const CTempDir dir;
    const std::string ok(kMinimal);
    const SMalformed cases[] = {
        {"uri = ldaps://x\n", 1, "before any [section]"},
        {"[ldap\n", 1, "must end with ']'"},
        {"[]\n", 1, "section name"},
        {"[ldap]\nuri\n", 2, "expected 'key = value'"},
        {"[ldap]\n= value\n", 2, "a key must be"},
        {"[ldap]\nuri = a\x01z\n", 2, "control characters"},
        {"[ldap]\nbase = x\nbase = y\n", 3, "given twice (first on line 2)"},
        {"[ldap]\nuri=ldaps://x\nbase=x\n[ldap]\n", 4, "appears twice"},
        {"[web]\n", 1, "unknown section [web]"},
        {"[ldap]\nuri = ldaps://x\nbase = x\nport = 636\n", 4, "unknown key 'port'"},
        {"[ldap]\nbase = x\n", 1, "needs a uri"},
        {"[ldap]\nuri = ldaps://x\n", 1, "needs a base"},
        {"[ldap]\nuri = ldaps://x\nbase =\n", 3, "needs a base"},
        {"[ldap]\nuri =\nbase = x\n", 2, "names no server"},
        {"[ldap]\nuri = ldaps://x http://y\nbase = x\n", 2, "'http://y' is neither"},
        {"[ldap]\nuri = ldaps:///\nbase = x\n", 2, "names no server"},
        {"[ldap]\nuri = ldap://x\nbase = x\n", 2, "clear text"},
        {"[ldap]\nuri = ldap://x\nstarttls = false\nbase = x\n", 2, "clear text"},
        {"[ldap]\nuri = ldap://x\nstarttls = yes\nbase = x\n", 3, "expected true or false"},
        {"[ldap]\nuri = ldaps://x\nbase = x\ngroup_attribute = memberOf\ngroup_filter = (m=%s)\n",
         5, "not both"},
        {"[ldap]\nuri = ldaps://x\nbase = x\nuser_filter = (uid=alice)\n", 4, "no %s"},
        {"[ldap]\nuri = ldaps://x\nbase = x\ngroup_filter = member=%s\n", 4, "parentheses"},
        {"[ldap]\nuri = ldaps://x\nbase = x\nbind_dn = cn=r\n", 4, "needs bind_password_file"},
        {"[ldap]\nuri = ldaps://x\nbase = x\nbind_password_file = pw\n", 4, "needs bind_dn"},
        {"[ldap]\nuri = ldaps://x\nbase = x\nbind_dn = cn=r\nbind_password_file = none\n", 5,
         "cannot open"},
        {"[ldap]\nuri = ldaps://x\nbase = x\nca_file = missing.pem\n", 4, "cannot read"},
        {"[ldap]\nuri = ldaps://x\nbase = x\ntimeout = 0\n", 4, "from 1 to 60"},
        {"[ldap]\nuri = ldaps://x\nbase = x\ntimeout = 61\n", 4, "from 1 to 60"},
        {"[ldap]\nuri = ldaps://x\nbase = x\ntimeout = 5s\n", 4, "from 1 to 60"},
        {"[ldap]\nuri = ldaps://x\nbase = x\ntimeout = -3\n", 4, "from 1 to 60"},
        {"[ldap]\nuri = ldaps://x\nbase = x\ncache_seconds = 61\n", 4, "from 0 to 60"},
        {"[ldap]\nuri = ldaps://x\nbase = x\ncache_seconds = 1m\n", 4, "from 0 to 60"},
    };
    for (const auto& c : cases) {
        const SSettingsLoad load = ParseIn(dir, c.text);
        ASSERT_FALSE(load.Ok()) << c.text;
        EXPECT_FALSE(load.ldap) << c.text;
        EXPECT_EQ(load.error->line, c.line) << c.text << load.error->Text();
        EXPECT_NE(load.error->reason.find(c.reason), std::string::npos)
            << c.text << "gave: " << load.error->Text();
    }
    // A clear-text server is taken when the lab asks for it.
    EXPECT_TRUE(ParseIn(dir, "[ldap]\nuri = ldap://x\nallow_clear_text = true\nbase = x\n").Ok());
    EXPECT_TRUE(ParseIn(dir, ok).Ok());
}

TEST(ProgramSettings, TheSearchPasswordFileMustBeTheUsersOwnAndClosedToOthers) {
    const CTempDir dir;
    const std::string text = std::string(kMinimal) + "bind_dn = cn=r\nbind_password_file = pw\n";
    const struct {
        const char* content;
        mode_t mode;
        const char* reason; // empty: taken
    } cases[] = {
        {"pw\n", 0600, ""},
        {"pw", 0400, ""},
        {"pw\n", 0640, "open to group or others"},
        {"pw\n", 0604, "open to group or others"},
        {"pw\n", 0620, "open to group or others"},
        {"\n", 0600, "is empty"},
        {"", 0600, "is empty"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(dir / "pw");
        dir.Write("pw", c.content);
        ::chmod((dir / "pw").c_str(), c.mode);
        const SSettingsLoad load = ParseIn(dir, text);
        if (*c.reason == '\0') {
            EXPECT_TRUE(load.Ok()) << load.error->Text();
            continue;
        }
        ASSERT_FALSE(load.Ok()) << c.mode;
        EXPECT_EQ(load.error->line, 5);
        EXPECT_NE(load.error->reason.find(c.reason), std::string::npos) << load.error->Text();
    }
    // A link is refused even when it leads to a good file: the checks are of the file named.
    std::filesystem::create_symlink(dir / "pw", dir / "link");
    EXPECT_FALSE(
        ParseIn(dir, std::string(kMinimal) + "bind_dn = cn=r\nbind_password_file = link\n").Ok());
    // Another user's file, however closed, is not trusted.
    if (::geteuid() == 0) {
        dir.Write("theirs", "pw\n");
        ::chmod((dir / "theirs").c_str(), 0600);
        ASSERT_EQ(::chown((dir / "theirs").c_str(), 65534, 65534), 0);
        const SSettingsLoad load =
            ParseIn(dir, std::string(kMinimal) + "bind_dn = cn=r\nbind_password_file = theirs\n");
        ASSERT_FALSE(load.Ok());
        EXPECT_NE(load.error->reason.find("another user"), std::string::npos);
    }
}

} // namespace
