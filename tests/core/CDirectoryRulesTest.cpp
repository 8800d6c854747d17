// The directory's rules as SendMessage applies them: each refusal kind, for a message marked as
// typed input, leaves the tables and the store as they were; records that are not typed input
// (read back from the store) keep what they have but for the built-in accounts' deletes.
#include "core/CDirectoryRules.h"

#include "core/COrvaneSrvCore.h"
#include "tests/core/CoreTestSupport.h"

#include <gtest/gtest.h>

namespace {

class DirectoryRules : public ::testing::Test {
protected:
    void SetUp() override {
        m_core = StartCore(Db());
        ASSERT_EQ(Send(CDirectoryMessage::AddGroup(true, Group(u"ops"))), 0);
        for (const char16_t* name : {u"bob", u"\u00e4dmin"}) {
            ASSERT_EQ(Send(CDirectoryMessage::AddUser(true, User(name, u"pw", {u"Everyone"}))), 0);
        }
    }
    long Send(CDirectoryMessage msg) { return m_core->SendMessage(std::move(msg).AsTypedInput()); }
    std::filesystem::path Db() const { return m_dir / "registry.db"; }
    // What the tables hold, members included, as text.
    std::u16string Tables() const {
        std::map<std::u16string, std::u16string> rows;
        for (const auto& [name, user] : m_core->m_mapUsers) {
            rows[u"u " + name] = user->m_strPassword + u"|" + Join(user->m_listGroups);
        }
        for (const auto& [name, group] : m_core->m_mapGroups) {
            rows[u"g " + name] = Join(group->m_listUsers) + u"|" + Join(group->m_listAccess);
        }
        std::u16string all;
        for (const auto& [key, row] : rows) {
            all += key + u"=" + row + u"\n";
        }
        return all;
    }
    static std::u16string Join(const Names& names) {
        std::u16string out;
        for (const auto& name : names) {
            out += name + u",";
        }
        return out;
    }

    CTempDir m_dir;
    std::unique_ptr<COrvaneSrvCore> m_core;
};

CDirectoryMessage Typed(CDirectoryMessage msg) {
    return std::move(msg).AsTypedInput();
}

} // namespace

TEST_F(DirectoryRules, EachBrokenRuleIsRefusedAndChangesNothing) {
    using enum ERefusal;
    constexpr auto U = ERecordKind::User;
    constexpr auto G = ERecordKind::Group;
    const auto tables = Tables();
    const auto users = ReadValues(Db(), kUserKey);
    const auto groups = ReadValues(Db(), kGroupKey);
    struct {
        CDirectoryMessage msg;
        CRefusal expected;
    } cases[] = {
        {Typed(CDirectoryMessage::AddUser(true, User(u"\u3000 \u00a0", u"pw", {u"Everyone"}))),
         {BlankName, U, {}}},
        {Typed(CDirectoryMessage::AddUser(true, User(u"ann:x", u"pw", {u"Everyone"}))),
         {ColonInName, U, {}}},
        {Typed(CDirectoryMessage::AddUser(true, User(u"bob", u"pw", {u"Everyone"}))),
         {NameTaken, U, {}}},
        {Typed(CDirectoryMessage::AddUser(true, User(u"BOB", u"pw", {u"Everyone"}))),
         {CaseTwin, U, u"bob"}},
        {Typed(CDirectoryMessage::AddUser(true, User(u"\u00c4DMIN", u"pw", {u"Everyone"}))),
         {CaseTwin, U, u"\u00e4dmin"}},
        // A modify of a user that is not there is an add, and its name is checked as new.
        {Typed(CDirectoryMessage::ModifyUser(true, User(u"Bob", u"pw", {u"Everyone"}))),
         {CaseTwin, U, u"bob"}},
        {Typed(CDirectoryMessage::AddUser(true, User(u"ann", u"", {u"Everyone"}))),
         {EmptyPassword, U, {}}},
        {Typed(CDirectoryMessage::ModifyUser(true, User(u"bob", u"", {u"Everyone"}))),
         {EmptyPassword, U, {}}},
        {Typed(CDirectoryMessage::AddUser(true, User(u"ann", u"pw", {u"ops"}))),
         {OutsideEveryone, U, u"Everyone"}},
        {Typed(CDirectoryMessage::ModifyUser(true, User(u"bob", u"pw", {}))),
         {OutsideEveryone, U, u"Everyone"}},
        {Typed(CDirectoryMessage::AddGroup(true, Group(u"\u2003"))), {BlankName, G, {}}},
        {Typed(CDirectoryMessage::AddGroup(true, Group(u"ops"))), {NameTaken, G, {}}},
        {Typed(CDirectoryMessage::AddGroup(true, Group(u"OPS", {u"bob"}))), {CaseTwin, G, u"ops"}},
        // The built-in accounts stay whatever sent the delete.
        {CDirectoryMessage::DeleteUser(true, u"admin"), {BuiltIn, U, u"admin"}},
        {CDirectoryMessage::DeleteGroup(false, u"Everyone"), {BuiltIn, G, u"Everyone"}},
        {Typed(CDirectoryMessage::DeleteGroup(true, u"Administrator")),
         {BuiltIn, G, u"Administrator"}},
    };
    int changes = 0;
    m_core->SetChangeListener([&changes] { ++changes; });
    for (auto& [msg, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(static_cast<int>(expected.eKind)));
        EXPECT_EQ(m_core->SendMessage(std::move(msg)), COrvaneSrvCore::kRefused);
        EXPECT_EQ(m_core->LastRefusal(), expected);
        EXPECT_TRUE(m_core->LastSaveError().empty());
        EXPECT_EQ(Tables(), tables);
    }
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(ReadValues(Db(), kUserKey), users);
    EXPECT_EQ(ReadValues(Db(), kGroupKey), groups);
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
    // Not typed input: a record read back from the store keeps what it has.
    EXPECT_EQ(m_core->SendMessage(CDirectoryMessage::AddUser(false, User(u"Bob:", u"", {}))), 0);
    EXPECT_EQ(ReadValues(Db(), kGroupKey).count(u"lab:1"), 1u);
    EXPECT_EQ(m_core->m_mapGroups.at(u"ops")->m_listUsers, Names{u"bob"});
    EXPECT_TRUE(m_core->m_mapUsers.contains(u"Bob:"));
}

TEST(DirectoryRulesEveryone, JoinEveryonePutsItLastAndOnce) {
    const std::pair<Names, Names> cases[] = {
        {{}, {u"Everyone"}},
        {{u"Everyone", u"ops", u"Everyone"}, {u"ops", u"Everyone"}},
        {{u"everyone"}, {u"everyone", u"Everyone"}},
    };
    for (auto [groups, expected] : cases) {
        CDirectoryRules::JoinEveryone(groups);
        EXPECT_EQ(groups, expected);
    }
}
