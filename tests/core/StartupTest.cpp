#include "core/CArchiveWriter.h"
#include "core/COrvaneSrvApp.h"
#include "core/CRegistryBatch.h"
#include "core/audit/CAuditRecord.h"
#include "core/audit/CAuditTrail.h"
#include "platform/text/TextConv.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/support/CCoreTestAccess.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestGate.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <random>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
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

std::vector<uint8_t> FileBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A store with the built-in accounts and one more user, closed cleanly (no side files).
void MakeStore(const std::filesystem::path& db) {
    auto core = StartCore(db);
    core->SendMessage(CDirectoryMessage::AddUser(true, User(u"bob", u"pw", {u"Everyone"})));
}

// Start-up in a child process: the child runs prepare (false: exit 77), then start-up over db,
// and answers its exit status (0 started, 2 refused, 4 refused but the store's bytes changed)
// and the refusal's text.
std::pair<int, std::string> StartUpInChild(const std::filesystem::path& db,
                                           const std::function<bool()>& prepare) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return {-1, {}};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        if (!prepare()) {
            ::_exit(77);
        }
        const auto before = FileBytes(db);
        COrvaneSrvApp app({});
        CStartUpResult started = app.StartUp(std::make_unique<CRegistryHive>(db));
        const std::string text = Utf16ToUtf8(started.strError);
        const bool ok = static_cast<bool>(started);
        started.pCore.reset();
        if (::write(fds[1], text.data(), text.size()) < 0) {
            ::_exit(5);
        }
        ::_exit(ok ? 0 : (FileBytes(db) == before ? 2 : 4));
    }
    ::close(fds[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

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
        core->SendMessage(
            CDirectoryMessage::AddGroup(true, Group(u"dir", {}, {}, {u"cn=a,dc=x", u"cn=b,dc=x"})));
    }
    const auto users = ReadValues(Db(), kUserKey);
    const auto groups = ReadValues(Db(), kGroupKey);
    auto core = StartCore(Db());
    EXPECT_EQ(ReadValues(Db(), kUserKey), users);
    EXPECT_EQ(ReadValues(Db(), kGroupKey), groups);
    EXPECT_EQ(core->GroupRecord(u"dir")->m_listDirectoryGroups,
              (Names{u"cn=a,dc=x", u"cn=b,dc=x"}));
    EXPECT_TRUE(core->GroupRecord(u"ops")->m_listDirectoryGroups.empty());
    EXPECT_EQ(core->UserRecord(u"admin")->m_listGroups,
              (Names{u"Administrator", u"Everyone", u"ops"}));
    EXPECT_EQ(core->GroupRecord(u"ops")->m_listUsers, (Names{u"admin", u"bob"}));
    ExpectConsistent(Db());
}

TEST_F(Startup, GroupSideMembershipIsCompletedInMemoryOnly) {
    PutRecord(kUserKey, *User(u"admin", u"9983"));
    PutRecord(kGroupKey, *Group(u"Administrator", {u"admin"}));
    PutRecord(kGroupKey, *Group(u"Everyone", {u"admin"}));
    const auto before = ReadValues(Db(), kUserKey);
    auto core = StartCore(Db());
    EXPECT_EQ(core->UserRecord(u"admin")->m_listGroups, (Names{u"Administrator", u"Everyone"}));
    EXPECT_EQ(ReadValues(Db(), kUserKey), before);
}

TEST_F(Startup, CorruptValuesAreSkippedWithAWarningAndBuiltInsAreNotResetOverThem) {
    PutRecord(kUserKey, *User(u"good", u"g"));
    PutValue(kUserKey, u"broken", {0xFF, 0xFE, 0xFF, 0x09, 0x41});
    PutValue(kGroupKey, u"empty", {});
    // Directory groups cut short after the access list: a count of two and one DN.
    auto cut = CArchiveWriter::Body(*Group(u"cut", {}, {}, {u"cn=a,dc=x", u"cn=b,dc=x"}));
    cut.resize(cut.size() - 2 * 9 - 4);
    PutValue(kGroupKey, u"cut", cut);
    // A damaged built-in group: recreating it would overwrite what is left of it.
    const std::vector<uint8_t> damaged = {0xFF, 0xFE, 0xFF, 0x08, 0x45, 0x00};
    PutValue(kGroupKey, u"Everyone", damaged);
    ::testing::internal::CaptureStderr();
    auto core = StartCore(Db());
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("\"broken\" under Software\\Tarvik\\OrvaneSrv\\Users"), std::string::npos)
        << err;
    EXPECT_NE(err.find("\"empty\" under Software\\Tarvik\\OrvaneSrv\\Groups"), std::string::npos);
    EXPECT_NE(err.find("\"cut\" under Software\\Tarvik\\OrvaneSrv\\Groups: the data ends"),
              std::string::npos);
    EXPECT_FALSE(core->GroupRecord(u"cut").has_value());
    EXPECT_EQ(ReadValues(Db(), kGroupKey).at(u"cut"), cut);
    EXPECT_TRUE(core->UserRecord(u"good").has_value());
    EXPECT_TRUE(core->UserRecord(u"admin").has_value());
    EXPECT_FALSE(core->GroupRecord(u"Everyone").has_value());
    EXPECT_EQ(core->UserRecord(u"admin")->m_listGroups, Names{u"Administrator"});
    EXPECT_EQ(ReadValues(Db(), kGroupKey).at(u"Everyone"), damaged);
}

TEST_F(Startup, RecordsWithoutANameAreSkippedWithAWarning) {
    PutRecord(kUserKey, *User(u"", u"", {u"Everyone"}));
    PutRecord(kGroupKey, *Group(u"", {u"admin"}));
    ::testing::internal::CaptureStderr();
    auto core = StartCore(Db());
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("under Software\\Tarvik\\OrvaneSrv\\Users: the record has no name"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("under Software\\Tarvik\\OrvaneSrv\\Groups: the record has no name"),
              std::string::npos);
    EXPECT_FALSE(core->UserRecord(u"").has_value());
    EXPECT_FALSE(core->GroupRecord(u"").has_value());
    EXPECT_EQ(core->UserRecord(u"admin")->m_listGroups, (Names{u"Administrator", u"Everyone"}));
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
    ASSERT_TRUE(core->GroupRecord(longName).has_value());
    EXPECT_EQ(core->GroupRecord(longName)->m_listAccess, access);
}

TEST_F(Startup, DeletedBuiltInAccountsComeBack) {
    {
        // A store from a version that let them be deleted.
        auto core = StartCore(Db());
        CRegistryBatch batch;
        batch.DeleteUserValue(u"admin");
        batch.DeleteGroupValue(u"Everyone");
        batch.WriteGroup(CGroupData(u"Administrator"));
        ASSERT_TRUE(CCoreTestAccess::Registry(*core).Apply(batch));
    }
    EXPECT_EQ(ReadValues(Db(), kUserKey).count(u"admin"), 0u);
    auto core = StartCore(Db());
    EXPECT_EQ(core->UserRecord(u"admin")->m_strPassword, u"9983");
    // Administrator survived without admin; only the recreated Everyone gains the new admin.
    EXPECT_EQ(core->UserRecord(u"admin")->m_listGroups, Names{u"Everyone"});
    EXPECT_EQ(core->GroupRecord(u"Everyone")->m_listUsers, Names{u"admin"});
    ExpectConsistent(Db());
}

TEST_F(Startup, SecondCopyFindsTheInstanceLock) {
    COrvaneSrvApp first({});
    COrvaneSrvApp second({});
    const auto lock = m_dir / "instance.lock";
    EXPECT_EQ(COrvaneSrvApp::InstanceLockHolder(lock), 0);
    // A stale, longer id from an earlier holder must not survive in the file.
    std::ofstream(lock) << "1234567890\n";
    EXPECT_TRUE(first.AcquireInstanceLock(lock));
    EXPECT_FALSE(second.AcquireInstanceLock(lock));
    EXPECT_EQ(COrvaneSrvApp::InstanceLockHolder(lock), ::getpid());
}

TEST_F(Startup, ServiceHooksRunLastAtStartAndFirstAtStop) {
    std::vector<std::string> order;
    COrvaneSrvApp app({[&](COrvaneSrvCore& core) {
                           order.push_back("start:" + std::to_string(core.UserNames().size()));
                       },
                       [&](COrvaneSrvCore& core) {
                           order.push_back("stop:" + std::to_string(core.UserNames().size()));
                       }});
    auto core = app.StartUp(std::make_unique<CRegistryHive>(Db())).pCore;
    const CTablesAccess tables = core->Tables();
    app.ShutDown(*core);
    EXPECT_EQ(order, (std::vector<std::string>{"start:1", "stop:1"}));
    EXPECT_FALSE(tables.Read([](const CTablesView& view) { return view.bAlive; }));
}

TEST_F(Startup, StopIsTheTrailsLastRecord) {
    COrvaneSrvApp app({});
    const auto file = m_dir / "audit.log";
    app.SetAuditTrail(std::make_shared<CAuditTrail>(file));
    auto core = app.StartUp(std::make_unique<CRegistryHive>(Db())).pCore;
    ASSERT_TRUE(core);
    // A repeated hand-out is counted, to be written when its minute ends or at the stop.
    const CAuditTrail::CHandOut handOut{"10.0.0.1", "nora", false, "m", "10.1.0.1", 1};
    core->AuditTrail()->WriteHandOut(handOut);
    core->AuditTrail()->WriteHandOut(handOut);
    app.ShutDown(*core);
    const auto lines = ReadFileLines(file);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[2].find(R"("count":1)"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find(R"("event":"stop")"), std::string::npos) << lines[3];
}

TEST_F(Startup, KillDuringWritesLeavesTheStoreConsistent) {
    { StartCore(Db()); }
    std::mt19937 rng(12345);
    // The child reports each operation it has finished through a pipe; the parent kills it
    // after a random number of them, so that the kill lands inside the next one.
    constexpr unsigned kMostOperationsBeforeTheKill = 150;
    for (int round = 0; round < 6; ++round) {
        int done[2];
        ASSERT_EQ(::pipe(done), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(done[0]);
            auto core = StartCore(Db());
            const auto send = [&core, &done](CDirectoryMessage message) {
                core->SendMessage(std::move(message));
                if (::write(done[1], "+", 1) != 1) {
                    ::_exit(1);
                }
            };
            for (int i = 0;; ++i) {
                // Large operations: a group linked to many users, many users linked to a group.
                std::vector<std::u16string> members;
                for (int m = 0; m < 60; ++m) {
                    const std::u16string name =
                        u"u" + std::u16string(1, static_cast<char16_t>(0x100 + m));
                    members.push_back(name);
                    // Re-adding a user would replace its record with one in no group while
                    // groups still list it: an inconsistency of the test's own making.
                    if (i == 0 && !core->UserRecord(name).has_value()) {
                        send(CDirectoryMessage::AddUser(true, User(name, u"")));
                    }
                }
                const std::u16string group =
                    u"g" + std::u16string(1, static_cast<char16_t>(u'a' + i % 5));
                send(CDirectoryMessage::AddGroup(true, Group(group, members)));
                send(CDirectoryMessage::ModifyGroup(true, Group(group, {members[i % 60]})));
                send(CDirectoryMessage::DeleteGroup(
                    true, u"g" + std::u16string(1, static_cast<char16_t>(u'a' + (i + 2) % 5))));
            }
        }
        ::close(done[1]);
        const unsigned operations = 1 + rng() % kMostOperationsBeforeTheKill;
        char mark = 0;
        for (unsigned n = 0; n < operations && ::read(done[0], &mark, 1) == 1; ++n) {
        }
        ::kill(child, SIGKILL);
        ::close(done[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself before its kill";
        ExpectConsistent(Db());
    }
    auto core = StartCore(Db());
    EXPECT_TRUE(core->UserRecord(u"admin").has_value());
}

TEST_F(Startup, AStoreThatCannotBeReadStopsStartUpAndIsLeftAlone) {
    std::vector<uint8_t> noise(64 * 1024);
    std::mt19937 rng(7);
    for (auto& b : noise) {
        b = static_cast<uint8_t>(rng());
    }
    const auto damaged = m_dir / "damaged" / "registry.db";
    std::filesystem::create_directories(damaged.parent_path());
    {
        auto core = StartCore(damaged);
        CUserTable users;
        for (int i = 0; i < 300; ++i) {
            const std::u16string name = u"user" + Utf8ToUtf16(std::to_string(i));
            users[name] = User(name, u"password");
        }
        core->MergeImported({}, std::move(users));
    }
    // One page in the middle of the file, overwritten.
    auto bytes = FileBytes(damaged);
    constexpr std::size_t kPage = 4096;
    const std::size_t page = bytes.size() / kPage / 2;
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(page * kPage), kPage, 0xA5);
    std::ofstream(damaged, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));

    const auto garbage = m_dir / "garbage" / "registry.db";
    std::filesystem::create_directories(garbage.parent_path());
    std::ofstream(garbage, std::ios::binary)
        .write(reinterpret_cast<const char*>(noise.data()),
               static_cast<std::streamsize>(noise.size()));

    for (const auto& [db, reason] :
         {std::pair{garbage, "file is not a database"}, std::pair{damaged, "malformed"}}) {
        const auto before = FileBytes(db);
        bool started = false;
        COrvaneSrvApp app({[&](COrvaneSrvCore&) { started = true; }, {}});
        const CStartUpResult result = app.StartUp(std::make_unique<CRegistryHive>(db));
        EXPECT_FALSE(result);
        EXPECT_FALSE(started);
        const std::string text = Utf16ToUtf8(result.strError);
        EXPECT_TRUE(
            text.starts_with("OrvaneSrv cannot use the directory store " + db.string() + ": "))
            << text;
        EXPECT_NE(text.find(reason), std::string::npos) << text;
        EXPECT_EQ(FileBytes(db), before);
    }
}

TEST_F(Startup, AsItsOwnerTheStoresModesDecide) {
    // Root passes every mode check: the store is given to nobody, who runs start-up.
    ORVANE_GATE("nobody");
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    const auto folder = m_dir / "home" / "OrvaneSrv";
    const auto db = folder / "registry.db";
    MakeStore(db);
    ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0711), 0);
    for (const auto& p : {folder.parent_path(), folder, db}) {
        ASSERT_EQ(::chown(p.c_str(), uid, gid), 0);
    }
    ASSERT_EQ(::chmod(folder.parent_path().c_str(), 0700), 0);
    const auto becomeNobody = [&] {
        return ::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0;
    };
    struct Case {
        mode_t folderMode;
        mode_t fileMode;
        int status;
        const char* reason;
    };
    // The first case shows that nobody can use the store when its modes allow it.
    for (const Case& c :
         {Case{0700, 0600, 0, ""}, Case{0700, 0400, 2, "it can be read but not written"},
          Case{0700, 0000, 2, "Permission denied"},
          Case{0500, 0600, 2, "side files (-wal, -shm)"}}) {
        for (const char* side : {"-wal", "-shm"}) {
            std::filesystem::remove(db.string() + side);
        }
        ASSERT_EQ(::chmod(folder.c_str(), c.folderMode), 0);
        ASSERT_EQ(::chmod(db.c_str(), c.fileMode), 0);
        const auto [status, text] = StartUpInChild(db, becomeNobody);
        EXPECT_EQ(status, c.status) << text;
        EXPECT_NE(text.find(c.reason), std::string::npos) << text;
        // Never widened to make start-up work.
        struct stat st {};
        ASSERT_EQ(::stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, c.folderMode);
        ASSERT_EQ(::stat(db.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, c.fileMode);
    }
}

TEST_F(Startup, AFullDiskStopsStartUp) {
    ORVANE_GATE("mountns");
    // A small memory file system of the child's own, in a mount namespace of its own.
    const auto mountPoint = m_dir / "small";
    std::filesystem::create_directories(mountPoint);
    const auto db = mountPoint / "OrvaneSrv" / "registry.db";
    const auto fillDisk = [&] {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=256k,mode=0700") != 0) {
            return false;
        }
        MakeStore(db);
        const CUniqueFd fill(::open((mountPoint / "fill").c_str(), O_WRONLY | O_CREAT, 0600));
        const std::vector<char> block(4096, 'x');
        while (::write(fill.Get(), block.data(), block.size()) > 0) {
        }
        return errno == ENOSPC;
    };
    const auto [status, text] = StartUpInChild(db, fillDisk);
    EXPECT_EQ(status, 2) << text;
    EXPECT_NE(text.find("No space left on device"), std::string::npos) << text;
}

TEST_F(Startup, ALockedStoreIsWaitedForThenRefused) {
    MakeStore(Db());
    CRegistryHive holder(Db());
    ASSERT_EQ(holder.Begin(), ERROR_SUCCESS);
    const auto before = FileBytes(Db());
    COrvaneSrvApp app({});
    app.SetStoreLockWait(std::chrono::seconds(1));
    ::testing::internal::CaptureStderr();
    const CStartUpResult result = app.StartUp(std::make_unique<CRegistryHive>(Db()));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(result);
    EXPECT_NE(Utf16ToUtf8(result.strError)
                  .find("another process kept it locked for more than 1 "
                        "seconds"),
              std::string::npos)
        << Utf16ToUtf8(result.strError);
    const std::string waitLine = "OrvaneSrv: the directory store " + Db().string() +
                                 " is locked by another process; waiting up to 1 seconds\n";
    EXPECT_EQ(err, waitLine);
    holder.Rollback();
    EXPECT_EQ(FileBytes(Db()), before);
}

TEST_F(Startup, ALockLetGoDuringTheWaitLetsStartUpGoOn) {
    MakeStore(Db());
    CRegistryHive holder(Db());
    ASSERT_EQ(holder.Begin(), ERROR_SUCCESS);
    // Standard error into a pipe: the lock is let go once start-up says it is waiting.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const int savedStderr = ::dup(STDERR_FILENO);
    ::dup2(fds[1], STDERR_FILENO);
    ::close(fds[1]);
    std::string err;
    std::thread releaser([&] {
        char buffer[256];
        bool released = false;
        for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
            err.append(buffer, static_cast<std::size_t>(n));
            if (!released && err.find("waiting up to 30 seconds\n") != std::string::npos) {
                holder.Rollback();
                released = true;
            }
        }
        ::close(fds[0]);
    });
    COrvaneSrvApp app({});
    CStartUpResult result = app.StartUp(std::make_unique<CRegistryHive>(Db()));
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);
    releaser.join();
    EXPECT_TRUE(result) << Utf16ToUtf8(result.strError);
    EXPECT_EQ(err, "OrvaneSrv: the directory store " + Db().string() +
                       " is locked by another process; waiting up to 30 seconds\n");
    ASSERT_TRUE(result);
    EXPECT_TRUE(result.pCore->UserRecord(u"bob").has_value());
}
