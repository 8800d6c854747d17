#include "core/COrvaneSrvCore.h"

#include "tests/core/CoreTestSupport.h"
#include "tests/support/CCoreTestAccess.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <latch>
#include <thread>
#include <utility>

namespace {

class Directory : public ::testing::Test {
protected:
    CTempDir m_dir;
    std::filesystem::path Db() const { return m_dir / "registry.db"; }
    CStoredValues Users() const { return ReadValues(Db(), kUserKey); }
    CStoredValues Groups() const { return ReadValues(Db(), kGroupKey); }
    CUserData StoredUser(const std::u16string& name) const {
        return Decode<CUserData>(Users().at(name));
    }
    CGroupData StoredGroup(const std::u16string& name) const {
        return Decode<CGroupData>(Groups().at(name));
    }
};

} // namespace

TEST_F(Directory, FreshStoreGetsTheBuiltInAccounts) {
    auto core = StartCore(Db());
    EXPECT_EQ(core->UserRecord(u"admin")->m_strPassword, u"9983");
    EXPECT_EQ(core->UserRecord(u"admin")->m_listGroups, (Names{u"Administrator", u"Everyone"}));
    ASSERT_EQ(Users().size(), 1u);
    ASSERT_EQ(Groups().size(), 2u);
    EXPECT_EQ(StoredUser(u"admin").m_listGroups, (Names{u"Administrator", u"Everyone"}));
    EXPECT_EQ(Groups().at(u"Everyone").size(), 38u);
    EXPECT_EQ(StoredGroup(u"Administrator").m_listUsers, Names{u"admin"});
    EXPECT_EQ(CCoreTestAccess::Registry(*core).m_lLastError, ERROR_SUCCESS);
}

TEST_F(Directory, MembershipStaysOnBothSidesThroughAddModifyDelete) {
    auto core = StartCore(Db());
    core->SendMessage(CDirectoryMessage::AddGroup(true, Group(u"ops")));
    core->SendMessage(CDirectoryMessage::AddUser(true, User(u"bob", u"pw", {u"Everyone", u"ops"})));
    EXPECT_EQ(StoredGroup(u"ops").m_listUsers, Names{u"bob"});
    EXPECT_EQ(StoredGroup(u"Everyone").m_listUsers, (Names{u"admin", u"bob"}));

    // The new record's groups replace the old: ops loses bob, Administrator gains him.
    core->SendMessage(
        CDirectoryMessage::ModifyUser(true, User(u"bob", u"pw2", {u"Everyone", u"Administrator"})));
    EXPECT_TRUE(StoredGroup(u"ops").m_listUsers.empty());
    EXPECT_EQ(StoredGroup(u"Administrator").m_listUsers, (Names{u"admin", u"bob"}));
    EXPECT_EQ(StoredGroup(u"Everyone").m_listUsers, (Names{u"admin", u"bob"}));
    EXPECT_EQ(StoredUser(u"bob").m_strPassword, u"pw2");

    // Deleting a group takes it off each member's list, and writes each member.
    core->SendMessage(CDirectoryMessage::AddGroup(true, Group(u"dev", {u"admin", u"bob"})));
    core->SendMessage(CDirectoryMessage::DeleteGroup(true, u"dev"));
    EXPECT_EQ(Groups().count(u"dev"), 0u);
    EXPECT_EQ(StoredUser(u"bob").m_listGroups, (Names{u"Everyone", u"Administrator"}));
    EXPECT_EQ(StoredUser(u"admin").m_listGroups, (Names{u"Administrator", u"Everyone"}));

    core->SendMessage(CDirectoryMessage::DeleteUser(true, u"bob"));
    EXPECT_EQ(Users().count(u"bob"), 0u);
    EXPECT_EQ(StoredGroup(u"Administrator").m_listUsers, Names{u"admin"});
    EXPECT_EQ(core->GroupRecord(u"Administrator")->m_listUsers, Names{u"admin"});
}

TEST_F(Directory, AddGroupLinksListedUsersOnce) {
    auto core = StartCore(Db());
    core->SendMessage(CDirectoryMessage::AddUser(true, User(u"amy", u"", {u"dev"})));
    // amy already lists dev; carl does not exist and stays in the member list.
    core->SendMessage(CDirectoryMessage::AddGroup(true, Group(u"dev", {u"amy", u"carl"})));
    EXPECT_EQ(core->UserRecord(u"amy")->m_listGroups, Names{u"dev"});
    EXPECT_EQ(StoredGroup(u"dev").m_listUsers, (Names{u"amy", u"carl"}));
    EXPECT_EQ(StoredUser(u"amy").m_listGroups, Names{u"dev"});
}

TEST_F(Directory, UnknownGroupNamesStayInAUsersList) {
    auto core = StartCore(Db());
    core->SendMessage(CDirectoryMessage::AddUser(true, User(u"eve", u"x", {u"ghost"})));
    EXPECT_EQ(StoredUser(u"eve").m_listGroups, Names{u"ghost"});
    EXPECT_FALSE(core->GroupRecord(u"ghost").has_value());
}

TEST_F(Directory, GroupModifyKeepsAccessAndAccessKeepsMembers) {
    auto core = StartCore(Db());
    core->SendMessage(CDirectoryMessage::AddUser(true, User(u"bob", u"")));
    core->SendMessage(CDirectoryMessage::AddGroup(true, Group(u"lab", {u"admin"})));
    core->SendMessage(CDirectoryMessage::SetGroupAccess(
        true, Group(u"lab", {u"ignored"}, {u"00:11:22:33:44:55", u"aa"})));
    EXPECT_EQ(StoredGroup(u"lab").m_listAccess, (Names{u"00:11:22:33:44:55", u"aa"}));
    EXPECT_EQ(StoredGroup(u"lab").m_listUsers, Names{u"admin"});

    core->SendMessage(CDirectoryMessage::ModifyGroup(true, Group(u"lab", {u"bob"})));
    EXPECT_EQ(StoredGroup(u"lab").m_listUsers, Names{u"bob"});
    EXPECT_EQ(StoredGroup(u"lab").m_listAccess, (Names{u"00:11:22:33:44:55", u"aa"}));
    EXPECT_EQ(StoredUser(u"bob").m_listGroups, Names{u"lab"});
    EXPECT_EQ(StoredUser(u"admin").m_listGroups, (Names{u"Administrator", u"Everyone"}));

    core->SendMessage(CDirectoryMessage::SetGroupAccess(true, Group(u"lab")));
    EXPECT_TRUE(StoredGroup(u"lab").m_listAccess.empty());
    EXPECT_EQ(StoredGroup(u"lab").m_listUsers, Names{u"bob"});
}

TEST_F(Directory, OperationsOnMissingRecordsChangeNothing) {
    auto core = StartCore(Db());
    const auto users = Users();
    const auto groups = Groups();
    core->SendMessage(CDirectoryMessage::DeleteUser(true, u"nobody"));
    core->SendMessage(CDirectoryMessage::DeleteGroup(true, u"nothing"));
    core->SendMessage(CDirectoryMessage::ModifyGroup(true, Group(u"nothing", {u"admin"})));
    core->SendMessage(CDirectoryMessage::SetGroupAccess(true, Group(u"nothing", {}, {u"m"})));
    EXPECT_FALSE(core->GroupRecord(u"nothing").has_value());
    EXPECT_EQ(core->UserRecord(u"admin")->m_listGroups, (Names{u"Administrator", u"Everyone"}));
    EXPECT_EQ(Users(), users);
    EXPECT_EQ(Groups(), groups);
    // A modify of a missing user is an add.
    core->SendMessage(CDirectoryMessage::ModifyUser(true, User(u"new", u"p")));
    EXPECT_EQ(Users().count(u"new"), 1u);
}

TEST_F(Directory, NamesAreCaseSensitiveKeys) {
    auto core = StartCore(Db());
    core->SendMessage(CDirectoryMessage::AddUser(true, User(u"Admin", u"other")));
    EXPECT_EQ(core->UserNames().size(), 2u);
    EXPECT_EQ(Users().size(), 2u);
    EXPECT_EQ(core->UserRecord(u"admin")->m_strPassword, u"9983");
}

TEST_F(Directory, UnusableStoreLeavesNoUnsavedChangeInMemory) {
    std::filesystem::create_directories(Db()); // a directory where the database should be
    ::testing::internal::CaptureStderr();
    auto core = StartCore(Db());
    EXPECT_TRUE(core->UserNames().empty()); // the built-in accounts were not written either
    EXPECT_EQ(core->SendMessage(CDirectoryMessage::AddUser(true, User(u"bob", u"pw"))),
              COrvaneSrvCore::kSaveFailed);
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(core->UserNames().empty());
    EXPECT_TRUE(core->GroupNames().empty());
    EXPECT_NE(CCoreTestAccess::Registry(*core).m_lLastError, ERROR_SUCCESS);
}

namespace {

std::size_t OneSidedMemberships(const CTablesView& tables);

// Under the shared guard: the memberships that do not agree both ways between the users and the
// groups that exist.
std::size_t OneSidedMemberships(const COrvaneSrvCore& core) {
    return core.Read([](const CTablesView& tables) { return OneSidedMemberships(tables); });
}

std::size_t OneSidedMemberships(const CTablesView& tables) {
    auto lists = [](const Names& names, const std::u16string& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    std::size_t oneSided = 0;
    for (const auto& [name, user] : tables.users) {
        for (const auto& group : user->m_listGroups) {
            const auto it = tables.groups.find(group);
            oneSided += it != tables.groups.end() && !lists(it->second->m_listUsers, name);
        }
    }
    for (const auto& [name, group] : tables.groups) {
        for (const auto& member : group->m_listUsers) {
            const auto it = tables.users.find(member);
            oneSided += it != tables.users.end() && !lists(it->second->m_listGroups, name);
        }
    }
    return oneSided;
}

} // namespace

TEST_F(Directory, ReadersUnderTheSharedGuardSeeMembershipsThatAgreeBothWays) {
    auto core = StartCore(Db());
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> oneSided{0};
    std::latch looked(2);
    auto reader = [&] {
        bool first = true;
        do {
            oneSided += OneSidedMemberships(*core);
            if (std::exchange(first, false)) {
                looked.count_down();
            }
        } while (!stop);
    };
    std::thread r1(reader), r2(reader);
    // The changes start once both readers are at work, and end before they are stopped.
    looked.wait();
    for (int i = 0; i < 200; ++i) {
        const std::u16string name = u"u" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26));
        core->SendMessage(CDirectoryMessage::AddUser(false, User(name, u"", {u"Everyone"})));
        core->SendMessage(CDirectoryMessage::AddGroup(false, Group(u"g", {name, u"admin"})));
        core->SendMessage(CDirectoryMessage::DeleteGroup(false, u"g"));
        if (i % 3 == 0) {
            core->SendMessage(CDirectoryMessage::DeleteUser(false, name));
        }
    }
    stop = true;
    r1.join();
    r2.join();
    EXPECT_EQ(oneSided.load(), 0u);
    EXPECT_EQ(OneSidedMemberships(*core), 0u);
}
