// orvanectl's command line as CCtlArguments judges it: refusals of what can be judged where it
// is typed, help beside a file name, and words that look like options only after "--".
#include "control/CCtlArguments.h"
#include "platform/text/MacText.h"

#include <gtest/gtest.h>

namespace {

using EOutcome = CCtlArguments::EOutcome;

CCtlArguments::CResult Check(std::vector<std::string> argv) {
    return CCtlArguments::Check(argv, "9.9");
}

// What the running copy would refuse anyway, or could never use, is refused before a password
// is asked for; what passes keeps its options and puts its words last.
TEST(CtlArguments, InputIsCheckedWhereItIsTyped) {
    const struct {
        std::vector<std::string> argv;
        std::string error; // the start of the reason; empty: it runs
    } cases[] = {
        {{"user", "add", "ann:1"}, "A user name may not contain \":\""},
        {{"user", "set", "ann:1"}, ""}, // a name imported before the rule keeps working
        {{"export", "--help.ovx"}, "export: unknown option --help.ovx"},
        {{"import", "-"}, "import: unknown option -"},
        {{"login", "--from", "-", "--user", "admin"}, ""},
        {{"login", "--user", "--all"}, "--user needs a value, not --all"},
        {{"user", "add", "bob", "--password", "x"}, "a password is never given"},
        {{"group", "add", "g", "--access", "02:4f:52:00:00:01, 02-4F-52-00-00-02"}, ""},
        {{"group", "set", "g", "--access", "02:4f:52:00:00:1"}, "--access: \"02:4f:52:00:00:1\""},
        {{"group", "set", "g", "--access", "02:4f-52:00:00:01"}, "--access: "},
        {{"group", "set", "g", "--access", "02:4f:52:00:00:0g"}, "--access: "},
        {{"group", "set", "g", "--ldap-groups", "cn=a,dc=x", "CN=b"}, ""},
        {{"group", "set", "g", "--no-ldap-groups"}, ""},
        {{"group", "set", "g", "--ldap-groups", "ou=x", "--no-ldap-groups"},
         "--ldap-groups and --no-ldap-groups: choose one"},
        {{"group", "set", "g", "--ldap-groups", ""},
         "--ldap-groups: A directory group's DN is empty"},
        {{"group", "set", "g", "--ldap-groups"}, "--ldap-groups needs a value"},
        {{"group", "set", "--ldap-groups", "cn=a", "g"}, "--ldap-groups: \"g\" is not a DN"},
        {{"group", "add", "g", "--ldap-groups", "cn=a\x1b[2J"},
         "--ldap-groups: The DN \"cn=a\\x1B[2J\" contains a control character"},
        {{"group", "add", "g", "--no-ldap-groups"}, "group: unknown option --no-ldap-groups"},
        {{"audit", "--event", "login"}, ""},
        {{"audit", "--event", "logins"}, "audit: no event kind \"logins\""},
        {{"servers", "--json", "--csv"}, "--json and --csv: choose one"},
        {{"groups", "--csv"}, "groups: unknown option --csv"},
        {{"status", "extra"}, "status: unexpected argument extra"},
        {{"user", "frob"}, "usage: orvanectl user add"},
        {{"frob"}, "unknown command frob"},
    };
    for (const auto& c : cases) {
        const auto result = Check(c.argv);
        const std::string label = ::testing::PrintToString(c.argv);
        EXPECT_EQ(result.eOutcome, c.error.empty() ? EOutcome::Run : EOutcome::BadUsage) << label;
        EXPECT_TRUE(result.text.starts_with(c.error)) << label << ": " << result.text;
    }
    // Every command's help is tried in the lab (CtlLab); here, what stands beside it.
    EXPECT_EQ(Check({"export", "f.ovx", "--help"}).eOutcome, EOutcome::Help);
    EXPECT_EQ(Check({"--version"}).text, "orvanectl 9.9\n");
    EXPECT_EQ(Check({"--help"}).text, CCtlArguments::Usage());
    EXPECT_EQ(Check({"user", "del", "--", "--help"}).args,
              (std::vector<std::string>{"user", "del", "--", "--help"}));
    EXPECT_EQ(Check({"export", "--force", "--", "-x"}).args,
              (std::vector<std::string>{"export", "--force", "--", "-x"}));
    // Each DN goes to the running copy as an option of its own.
    EXPECT_EQ(Check({"group", "add", "g", "--ldap-groups", "cn=a", "cn=b", "--members", "u"}).args,
              (std::vector<std::string>{"group", "add", "--ldap-groups", "cn=a", "--ldap-groups",
                                        "cn=b", "--members", "u", "g"}));
    EXPECT_EQ(Check({"login", "AA", "--user", "u", "BB"}).args,
              (std::vector<std::string>{"login", "--user", "u", "AA", "BB"}));
}

TEST(CtlArguments, MacsMatchWithoutRegardToCaseOrSeparator) {
    EXPECT_EQ(MacKey("02:4F:52:AA:bb:01"), MacKey("02-4f-52-aa-BB-01"));
    EXPECT_NE(MacKey("02:4f:52:aa:bb:01"), MacKey("02:4f:52:aa:bb:02"));
    EXPECT_NE(MacKey("m1"), MacKey("m"));
}

} // namespace
