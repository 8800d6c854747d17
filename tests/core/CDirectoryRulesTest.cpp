// The directory's rules as SendMessage applies them: each refusal kind, for a message marked as
// typed input, leaves the tables and the store as they were; records that are not typed input
// (read back from the store) keep what they have, but built-in accounts are never deleted.
#include "core/CDirectoryRules.h"

#include "core/CConfigFile.h"
#include "platform/text/TextConv.h"
#include "tests/core/CoreTestSupport.h"

#include <gtest/gtest.h>

namespace {

CDirectoryMessage Typed(CDirectoryMessage msg) {
    return std::move(msg).AsTypedInput();
}

class DirectoryRules : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(m_core->SendMessage(Typed(CDirectoryMessage::AddGroup(true, Group(u"ops")))), 0);
        for (const char16_t* name : {u"bob", u"\u00e4dmin"}) {
            ASSERT_EQ(m_core->SendMessage(Typed(
                          CDirectoryMessage::AddUser(true, User(name, u"pw", {u"Everyone"})))),
                      0);
        }
    }
    // Everything the tables hold, in the export's bytes.
    std::vector<uint8_t> Tables() const {
        return m_core->Read([](const CTablesView& tables) {
            return CConfigFile::Serialize(tables.groups, tables.users);
        });
    }

    CTempDir m_dir;
    std::filesystem::path m_db = m_dir / "registry.db";
    std::unique_ptr<COrvaneSrvCore> m_core = StartCore(m_db);
};

} // namespace

TEST_F(DirectoryRules, EachBrokenRuleIsRefusedAndChangesNothing) {
    using enum ERefusal;
    constexpr auto U = ERecordKind::User;
    constexpr auto G = ERecordKind::Group;
    const Names every{u"Everyone"};
    struct {
        CDirectoryMessage msg;
        CRefusal expected;
    } cases[] = {
        {Typed(CDirectoryMessage::AddUser(true, User(u"\u3000 \u00a0", u"pw", every))),
         {BlankName, U, {}}},
        {Typed(CDirectoryMessage::AddUser(true, User(u"ann:x", u"pw", every))),
         {ColonInName, U, {}}},
        {Typed(CDirectoryMessage::AddUser(true, User(u"bob", u"pw", every))), {NameTaken, U, {}}},
        {Typed(CDirectoryMessage::AddUser(true, User(u"\u00c4DMIN", u"pw", every))),
         {CaseTwin, U, u"\u00e4dmin"}},
        // A modify of a user that is not there adds one: its name is new.
        {Typed(CDirectoryMessage::ModifyUser(true, User(u"BOB", u"pw", every))),
         {CaseTwin, U, u"bob"}},
        {Typed(CDirectoryMessage::ModifyUser(true, User(u"bob", u"", every))),
         {EmptyPassword, U, {}}},
        {Typed(CDirectoryMessage::AddUser(true, User(u"ann", u"pw", {u"ops"}))),
         {OutsideEveryone, U, u"Everyone"}},
        {Typed(CDirectoryMessage::AddGroup(true, Group(u"\u2003"))), {BlankName, G, {}}},
        {Typed(CDirectoryMessage::AddGroup(true, Group(u"ops"))), {NameTaken, G, {}}},
        {Typed(CDirectoryMessage::AddGroup(true, Group(u"OPS", {u"bob"}))), {CaseTwin, G, u"ops"}},
        {Typed(CDirectoryMessage::AddGroup(true, Group(u"dir", {}, {}, {u"cn=a", u"a"}))),
         {DirectoryGroup, G, u"a", EDnFault::NotAttributeValue}},
        {Typed(CDirectoryMessage::ModifyGroup(true, Group(u"ops", {}, {}, {u"cn=a\x01"}))),
         {DirectoryGroup, G, u"cn=a\x01", EDnFault::ControlCharacter}},
        {CDirectoryMessage::DeleteUser(true, u"admin"), {BuiltIn, U, u"admin"}},
        {CDirectoryMessage::DeleteGroup(false, u"Everyone"), {BuiltIn, G, u"Everyone"}},
    };
    const auto tables = Tables();
    const auto users = ReadValues(m_db, kUserKey);
    const auto groups = ReadValues(m_db, kGroupKey);
    int changes = 0;
    m_core->SetChangeListener([&changes] { ++changes; });
    for (auto& [msg, expected] : cases) {
        SCOPED_TRACE(static_cast<int>(expected.eKind));
        EXPECT_EQ(m_core->SendMessage(std::move(msg)), COrvaneSrvCore::kRefused);
        EXPECT_EQ(m_core->LastRefusal(), expected);
        EXPECT_EQ(Tables(), tables);
    }
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(ReadValues(m_db, kUserKey), users);
    EXPECT_EQ(ReadValues(m_db, kGroupKey), groups);
}

TEST_F(DirectoryRules, WhatKeepsToTheRulesIsMadeAndClearsTheLastRefusal) {
    ASSERT_EQ(m_core->SendMessage(CDirectoryMessage::DeleteUser(true, u"admin")),
              COrvaneSrvCore::kRefused);
    // Group names may hold a colon: no credentials carry them.
    EXPECT_EQ(m_core->SendMessage(Typed(CDirectoryMessage::AddGroup(true, Group(u"lab:1")))), 0);
    EXPECT_FALSE(m_core->LastRefusal());
    // An existing user keeps its name: only its password and groups are checked.
    EXPECT_EQ(m_core->SendMessage(Typed(CDirectoryMessage::ModifyUser(
                  true, User(u"bob", u"new", {u"ops", u"Everyone"})))),
              0);
    EXPECT_EQ(m_core->SendMessage(Typed(CDirectoryMessage::ModifyGroup(
                  true, Group(u"ops", {u"bob"}, {}, {u"cn=ops,dc=example"})))),
              0);
    // Not typed input: a record as the store holds it.
    EXPECT_EQ(m_core->SendMessage(CDirectoryMessage::AddUser(false, User(u"Bob:", u""))), 0);
    EXPECT_EQ(ReadValues(m_db, kGroupKey).count(u"lab:1"), 1u);
    EXPECT_EQ(m_core->GroupRecord(u"ops")->m_listUsers, Names{u"bob"});
    EXPECT_EQ(m_core->GroupRecord(u"ops")->m_listDirectoryGroups, Names{u"cn=ops,dc=example"});
    EXPECT_TRUE(m_core->UserRecord(u"Bob:"));
}

TEST(DirectoryGroupDn, PlausibleDnsPassAndEachFaultIsNamed) {
    using enum EDnFault;
    const struct {
        std::u16string dn;
        EDnFault expected;
    } cases[] = {
        {u"cn=storage-admins,ou=groups,dc=example,dc=com", None},
        {u"CN = Ops + uid=7 , DC=example", None},
        {u"2.5.4.3=ops", None},
        {u"cn=a\\,b,dc=x", None},                    // an escaped comma is part of the value
        {u"cn=\u00e9quipe,dc=x", None},              // values in any script
        {u"cn=" + std::u16string(1021, u'a'), None}, // 1,024 units
        {u"", Empty},
        {u"cn=" + std::u16string(1022, u'a'), TooLong},
        {u"cn=a\n,dc=x", ControlCharacter},
        {u"cn=a\u0085", ControlCharacter},
        {u"storage-admins", NotAttributeValue},
        {u"cn=", NotAttributeValue},
        {u"cn=a,", NotAttributeValue},
        {u"2..5=a", NotAttributeValue},
        {u"cn=a\\", NotAttributeValue},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CDirectoryRules::CheckDirectoryGroupDn(c.dn), c.expected) << Utf16ToUtf8(c.dn);
    }
}

TEST(DirectoryGroupDn, KeysIgnoreAsciiCaseAndBlanksAroundSeparatorsOnly) {
    const struct {
        std::string a;
        std::string b;
        bool bSame;
    } cases[] = {
        {"CN=Ops,OU=Groups,DC=Example", "cn=ops,ou=groups,dc=example", true},
        {" cn = ops , dc = x + uid = 1 ", "cn=ops,dc=x+uid=1", true},
        {"cn=storage admins,dc=x", "cn=storage admins,dc=x", true},
        {"cn=storage admins,dc=x", "cn=storageadmins,dc=x", false},
        {"cn=a\\ ,dc=x", "cn=a,dc=x", false},            // an escaped blank is part of the value
        {"cn=a\\,b,dc=x", "cn=a,b,dc=x", false},         // an escaped comma separates nothing
        {"cn=\xc3\x89quipe", "cn=\xc3\xa9quipe", false}, // only ASCII letters fold
        {"cn=ops,dc=x", "cn=ops,dc=y", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CDirectoryRules::DirectoryGroupKey(c.a) ==
                      CDirectoryRules::DirectoryGroupKey(c.b),
                  c.bSame)
            << c.a << " | " << c.b;
    }
}

TEST(DirectoryGroupDn, MappedGroupsAreThoseNamingAnyOfTheUsersGroupsWithEveryone) {
    CGroupTable groups;
    groups[u"Everyone"] = Group(u"Everyone");
    groups[u"ops"] = Group(u"ops", {}, {}, {u"cn=ops,dc=x", u"cn=admins,dc=x"});
    groups[u"audit"] = Group(u"audit", {}, {}, {u"CN=Audit, DC=x"});
    groups[u"plain"] = Group(u"plain");
    using Dns = std::vector<std::string>;
    const struct {
        Dns dns;
        Names expected;
    } cases[] = {
        {{}, {}},
        {{"cn=nobody,dc=x"}, {}},
        {{"cn=admins,dc=x"}, {u"Everyone", u"ops"}},
        // Two DNs of one group and one of another: each group once, sorted.
        {{"cn=audit,dc=x", "CN=OPS,DC=X", "cn=admins,dc=x"}, {u"Everyone", u"audit", u"ops"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CDirectoryRules::MappedGroups(groups, c.dns), c.expected) << c.dns.size();
    }
}
