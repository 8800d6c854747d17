#include "core/CArchiveWriter.h"
#include "core/COrvaneSrvApp.h"
#include "tests/core/CoreTestSupport.h"

#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

class Startup : public ::testing::Test {
protected:
    CTempDir m_dir;
    std::filesystem::path Db() const { return m_dir / "registry.db"; }

    void PutValue(std::u16string_view key, std::u16string_view name,
                  const std::vector<uint8_t>& bytes) {
        CRegistryHive hive(Db());
        CRegistryKey k;
        ASSERT_EQ(hive.CreateKey(key, KEY_ALL_ACCESS, k), ERROR_SUCCESS);
        ASSERT_EQ(k.SetValue(name, REG_BINARY, bytes), ERROR_SUCCESS);
    }
    template <typename Record>
    void PutRecord(std::u16string_view key, const Record& r) {
        CArchiveWriter ar;
        r.Serialize(ar);
        PutValue(key, r.m_strName, ar.Bytes());
    }
};

// Every membership that the store holds is held on both sides, exactly once.
void ExpectConsistent(const std::filesystem::path& db) {
    const auto users = ReadValues(db, kUserKey);
    const auto groups = ReadValues(db, kGroupKey);
    std::map<std::u16string, CGroupData> g;
    for (const auto& [name, bytes] : groups) {
        g.emplace(name, Decode<CGroupData>(bytes));
    }
    for (const auto& [name, bytes] : users) {
        const auto u = Decode<CUserData>(bytes);
        for (const auto& groupName : u.m_listGroups) {
            auto it = g.find(groupName);
            if (it != g.end()) {
                EXPECT_EQ(
                    std::count(it->second.m_listUsers.begin(), it->second.m_listUsers.end(), name),
                    1)
                    << "user lists a group that does not list it back";
            }
        }
    }
    for (const auto& [name, group] : g) {
        for (const auto& userName : group.m_listUsers) {
            auto it = users.find(userName);
            if (it != users.end()) {
                const auto u = Decode<CUserData>(it->second);
                EXPECT_EQ(std::count(u.m_listGroups.begin(), u.m_listGroups.end(), name), 1)
                    << "group lists a user that does not list it back";
            }
        }
    }
}

} // namespace

TEST_F(Startup, RestartWithUnchangedDataChangesNothing) {
    {
        auto core = StartCore(Db());
        core->SendMessage(CDirectoryMessage::AddGroup(true, Group(u"ops", {u"admin"}, {u"m"})));
        core->SendMessage(CDirectoryMessage::AddUser(true, User(u"bob", u"b", {u"ops"})));
    }
    const auto users = ReadValues(Db(), kUserKey);
    const auto groups = ReadValues(Db(), kGroupKey);
    auto core = StartCore(Db());
    EXPECT_EQ(ReadValues(Db(), kUserKey), users);
    EXPECT_EQ(ReadValues(Db(), kGroupKey), groups);
    EXPECT_EQ(core->m_mapUsers.at(u"admin")->m_listGroups,
              (Names{u"Administrator", u"Everyone", u"ops"}));
    EXPECT_EQ(core->m_mapGroups.at(u"ops")->m_listUsers, (Names{u"admin", u"bob"}));
    ExpectConsistent(Db());
}

TEST_F(Startup, GroupSideMembershipIsCompletedInMemoryOnly) {
    PutRecord(kUserKey, *User(u"admin", u"9983"));
    PutRecord(kGroupKey, *Group(u"Administrator", {u"admin"}));
    PutRecord(kGroupKey, *Group(u"Everyone", {u"admin"}));
    const auto before = ReadValues(Db(), kUserKey);
    auto core = StartCore(Db());
    EXPECT_EQ(core->m_mapUsers.at(u"admin")->m_listGroups, (Names{u"Administrator", u"Everyone"}));
    EXPECT_EQ(ReadValues(Db(), kUserKey), before);
}

TEST_F(Startup, CorruptValuesAreSkippedWithAWarning) {
    PutRecord(kUserKey, *User(u"good", u"g"));
    PutValue(kUserKey, u"broken", {0xFF, 0xFE, 0xFF, 0x09, 0x41});
    PutValue(kGroupKey, u"empty", {});
    ::testing::internal::CaptureStderr();
    auto core = StartCore(Db());
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("\"broken\" under Software\\Tarvik\\OrvaneSrv\\Users"), std::string::npos)
        << err;
    EXPECT_NE(err.find("\"empty\" under Software\\Tarvik\\OrvaneSrv\\Groups"), std::string::npos);
    EXPECT_TRUE(core->m_mapUsers.contains(u"good"));
    EXPECT_TRUE(core->m_mapUsers.contains(u"admin"));
    EXPECT_EQ(core->m_mapGroups.size(), 2u);
}

TEST_F(Startup, OversizedValuesLoadInFull) {
    std::vector<std::u16string> access;
    for (int i = 0; i < 300; ++i) {
        access.push_back(u"00:11:22:33:" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                         std::u16string(1, static_cast<char16_t>(u'A' + i / 26)));
    }
    const std::u16string longName(100, u'n');
    {
        auto core = StartCore(Db());
        core->SendMessage(CDirectoryMessage::AddGroup(true, Group(longName, {u"admin"}, access)));
    }
    EXPECT_GT(ReadValues(Db(), kGroupKey).at(longName).size(), 4096u);
    auto core = StartCore(Db());
    ASSERT_TRUE(core->m_mapGroups.contains(longName));
    EXPECT_EQ(core->m_mapGroups.at(longName)->m_listAccess, access);
}

TEST_F(Startup, DeletedBuiltInAccountsComeBack) {
    {
        auto core = StartCore(Db());
        core->SendMessage(CDirectoryMessage::AddUser(true, User(u"bob", u"", {u"Everyone"})));
        core->SendMessage(CDirectoryMessage::DeleteUser(true, u"admin"));
        core->SendMessage(CDirectoryMessage::DeleteGroup(true, u"Everyone"));
    }
    EXPECT_EQ(ReadValues(Db(), kUserKey).count(u"admin"), 0u);
    auto core = StartCore(Db());
    EXPECT_EQ(core->m_mapUsers.at(u"admin")->m_strPassword, u"9983");
    // Administrator survived without admin; only the recreated Everyone gains the new admin.
    EXPECT_EQ(core->m_mapUsers.at(u"admin")->m_listGroups, Names{u"Everyone"});
    EXPECT_EQ(core->m_mapGroups.at(u"Everyone")->m_listUsers, Names{u"admin"});
    EXPECT_EQ(core->m_mapUsers.at(u"bob")->m_listGroups, Names{});
    ExpectConsistent(Db());
}

TEST_F(Startup, SecondCopyFindsTheInstanceLock) {
    COrvaneSrvApp first({});
    COrvaneSrvApp second({});
    EXPECT_TRUE(first.AcquireInstanceLock(m_dir / "instance.lock"));
    EXPECT_FALSE(second.AcquireInstanceLock(m_dir / "instance.lock"));
}

TEST_F(Startup, ServiceHooksRunLastAtStartAndFirstAtStop) {
    std::vector<std::string> order;
    COrvaneSrvApp app({[&](COrvaneSrvCore& core) {
                           order.push_back("start:" + std::to_string(core.m_mapUsers.size()));
                       },
                       [&](COrvaneSrvCore& core) {
                           order.push_back("stop:" + std::to_string(core.m_mapUsers.size()));
                       }});
    auto core = app.StartUp(std::make_unique<CRegistryHive>(Db()));
    auto guard = core->Guard();
    app.ShutDown(std::move(core));
    EXPECT_EQ(order, (std::vector<std::string>{"start:1", "stop:1"}));
    EXPECT_FALSE(guard->m_bTablesAlive);
}

TEST_F(Startup, KillDuringWritesLeavesTheStoreConsistent) {
    { StartCore(Db()); }
    std::mt19937 rng(12345);
    for (int round = 0; round < 6; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            auto core = StartCore(Db());
            for (int i = 0;; ++i) {
                // Large operations: a group linked to many users, many users linked to a group.
                std::vector<std::u16string> members;
                for (int m = 0; m < 60; ++m) {
                    const std::u16string name =
                        u"u" + std::u16string(1, static_cast<char16_t>(0x100 + m));
                    members.push_back(name);
                    if (i == 0) {
                        core->SendMessage(CDirectoryMessage::AddUser(true, User(name, u"")));
                    }
                }
                const std::u16string group =
                    u"g" + std::u16string(1, static_cast<char16_t>(u'a' + i % 5));
                core->SendMessage(CDirectoryMessage::AddGroup(true, Group(group, members)));
                core->SendMessage(
                    CDirectoryMessage::ModifyGroup(true, Group(group, {members[i % 60]})));
                core->SendMessage(CDirectoryMessage::DeleteGroup(
                    true, u"g" + std::u16string(1, static_cast<char16_t>(u'a' + (i + 2) % 5))));
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + rng() % 300));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        ExpectConsistent(Db());
    }
    auto core = StartCore(Db());
    EXPECT_TRUE(core->m_mapUsers.contains(u"admin"));
}
