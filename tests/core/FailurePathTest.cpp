// Failure paths of everything that writes or reads the directory's files: the store's batches
// and an import's writes under a VFS that fails one call (or every call from one on), and the
// configuration file's write, fsync, rename and read under failing file calls. Each loop fails
// the 1st, 2nd, ... call of one operation until the operation runs clean, and checks each time
// that the failure was reported, that the files hold the old state or the new one, and that the
// tables in memory hold what the store holds (a change that was not saved is undone).
#include "core/CArchiveWriter.h"
#include "core/CConfigFile.h"
#include "platform/text/TextConv.h"
#include "tests/core/CFaultFileIo.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/platform/registry/CFaultVfs.h"
#include "tests/support/CCoreTestAccess.h"
#include "tests/support/TestFiles.h"

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>

namespace {

struct CStoreState {
    CStoredValues users;
    CStoredValues groups;
    bool operator==(const CStoreState&) const = default;
};

std::u16string PathText(const std::filesystem::path& p) {
    return Utf8ToUtf16(p.string());
}

// What the core's tables hold, as the store would hold it.
CStoreState Memory(const COrvaneSrvCore& core) {
    return core.Read([](const CTablesView& tables) {
        CStoreState state;
        for (const auto& [name, user] : tables.users) {
            state.users[name] = CArchiveWriter::Body(*user);
        }
        for (const auto& [name, group] : tables.groups) {
            state.groups[name] = CArchiveWriter::Body(*group);
        }
        return state;
    });
}

class FailurePath : public ::testing::Test {
protected:
    // Answers whether the operation reported success.
    using Operation = std::function<bool(COrvaneSrvCore&)>;

    struct COutcome {
        bool bFired = false;
        LSTATUS error = ERROR_SUCCESS;
        bool bReportedOk = false;
        CStoreState memory;
    };

    // The loops open and commit hundreds of stores: in memory, where a sync costs nothing, when
    // the machine has a memory file system. What they check does not depend on the disk.
    static void SetUpTestSuite() {
        if (std::filesystem::is_directory("/dev/shm")) {
            ::setenv("TMPDIR", "/dev/shm", 1);
        }
    }

    // The VFS goes last, after every connection that uses it.
    CFaultVfs m_vfs;
    CTempDir m_dir;

    std::filesystem::path Template() const { return m_dir / "template.db"; }
    std::filesystem::path Work() const { return m_dir / "work.db"; }
    std::filesystem::path File() const { return m_dir / "directory.ovx"; }

    static CStoreState State(const std::filesystem::path& db) {
        return {ReadValues(db, kUserKey), ReadValues(db, kGroupKey)};
    }

    // A store with the built-in accounts, three users and a group of two of them.
    void MakeTemplate() {
        for (const char* side : {"", "-wal", "-shm"}) {
            std::filesystem::remove(Template().string() + side);
        }
        auto core = StartCore(Template());
        for (const char16_t* name : {u"amy", u"bob", u"cy"}) {
            core->SendMessage(CDirectoryMessage::AddUser(true, User(name, u"pw")));
        }
        core->SendMessage(CDirectoryMessage::AddGroup(true, Group(u"ops", {u"amy", u"bob"})));
    }

    void FreshWork() {
        for (const char* side : {"", "-wal", "-shm"}) {
            std::filesystem::remove(Work().string() + side);
        }
        std::filesystem::copy_file(Template(), Work());
    }

    // Another connection's commit makes the core's connection read every page again.
    void ChangeBehindTheCore() {
        CRegistryHive other(Work());
        CRegistryKey key;
        ASSERT_EQ(other.CreateKey(u"Scratch", KEY_ALL_ACCESS, key), ERROR_SUCCESS);
        ASSERT_EQ(key.SetValue(u"x", REG_BINARY, std::vector<uint8_t>{1}), ERROR_SUCCESS);
    }

    // Runs op with the nth VFS call failing; answers whether a call failed, the store's last
    // error, op's report and the tables afterwards. The store is read back once the core has
    // closed it.
    COutcome RunOnce(const Operation& op, int nth, CFaultVfs::EMode mode, bool cold) {
        FreshWork();
        auto core = StartCore(Work());
        if (cold) {
            ChangeBehindTheCore();
        }
        m_vfs.Arm(nth, mode);
        COutcome outcome;
        outcome.bReportedOk = op(*core);
        m_vfs.Disarm();
        outcome.bFired = m_vfs.Fired();
        outcome.error = CCoreTestAccess::Registry(*core).m_lLastError;
        outcome.memory = Memory(*core);
        core.reset();
        return outcome;
    }

    void FailEachCallInTurn(const Operation& op) {
        MakeTemplate();
        const CStoreState before = State(Template());
        ASSERT_TRUE(RunOnce(op, 0, CFaultVfs::EMode::Once, false).bReportedOk);
        const CStoreState after = State(Work());
        ASSERT_NE(before, after);
        for (const auto mode : {CFaultVfs::EMode::Once, CFaultVfs::EMode::FromThenOn}) {
            for (const bool cold : {false, true}) {
                int nth = 1;
                for (;; ++nth) {
                    const COutcome outcome = RunOnce(op, nth, mode, cold);
                    const CStoreState state = State(Work());
                    EXPECT_TRUE(outcome.memory == state) << "call " << nth << ": memory differs";
                    if (!outcome.bFired) {
                        EXPECT_EQ(outcome.error, ERROR_SUCCESS);
                        EXPECT_TRUE(state == after);
                        break;
                    }
                    const std::string where = "failing call " + std::to_string(nth) +
                                              (mode == CFaultVfs::EMode::Once ? " once" : " on") +
                                              (cold ? ", cold cache" : ", warm cache");
                    EXPECT_NE(outcome.error, ERROR_SUCCESS) << where;
                    EXPECT_TRUE(state == before || state == after) << where << ": a mix";
                    EXPECT_EQ(outcome.bReportedOk, state == after) << where;
                }
                EXPECT_GT(nth, 1);
            }
        }
    }
};

} // namespace

TEST_F(FailurePath, AddingAGroupWithMembersIsWrittenWholeOrNotAtAll) {
    FailEachCallInTurn([](COrvaneSrvCore& core) {
        return core.SendMessage(
                   CDirectoryMessage::AddGroup(true, Group(u"dev", {u"amy", u"cy"}))) == 0;
    });
}

TEST_F(FailurePath, DeletingUsersIsWrittenWholeOrNotAtAll) {
    // bob: the group's side and his value; cy: his value alone.
    for (const char16_t* name : {u"bob", u"cy"}) {
        FailEachCallInTurn([name](COrvaneSrvCore& core) {
            return core.SendMessage(CDirectoryMessage::DeleteUser(true, name)) == 0;
        });
    }
}

TEST_F(FailurePath, ImportWritesEveryRecordOrNone) {
    CGroupTable groups;
    groups[u"ops"] = Group(u"ops", {u"amy"}, {u"00:11:22:33:44:55"});
    CUserTable users;
    users[u"amy"] = User(u"amy", u"new", {u"ops"});
    users[u"dan"] = User(u"dan", u"d");
    WriteFileBytes(File(), CConfigFile::Serialize(groups, users));
    FailEachCallInTurn([this](COrvaneSrvCore& core) {
        const CConfigResult result = CConfigFile::Import(File(), core);
        EXPECT_TRUE(result.status == EConfigStatus::Ok ||
                    result.status == EConfigStatus::SaveFailed);
        return result.status == EConfigStatus::Ok;
    });
}

TEST_F(FailurePath, AChangeWhoseTransactionCannotBeginWritesNothing) {
    MakeTemplate();
    FreshWork();
    auto core = StartCore(Work());
    const CStoreState before = State(Work());
    // The first lock of the operation is its transaction's.
    m_vfs.Arm(1, CFaultVfs::EMode::Once, CFaultVfs::kLock | CFaultVfs::kShmLock);
    ::testing::internal::CaptureStderr();
    const long answer =
        core->SendMessage(CDirectoryMessage::AddGroup(true, Group(u"dev", {u"amy", u"cy"})));
    const std::string err = ::testing::internal::GetCapturedStderr();
    m_vfs.Disarm();
    ASSERT_TRUE(m_vfs.Fired());
    EXPECT_EQ(answer, COrvaneSrvCore::kSaveFailed);
    EXPECT_NE(CCoreTestAccess::Registry(*core).m_lLastError, ERROR_SUCCESS);
    EXPECT_EQ(State(Work()), before);
    // Undone in memory too, and the operator's text says why.
    EXPECT_EQ(Memory(*core), before);
    EXPECT_TRUE(core->LastSaveError().starts_with(u"Failed to save the directory: "));
    EXPECT_GT(core->LastSaveError().size(),
              std::u16string_view(u"Failed to save the directory: ").size());
    EXPECT_NE(err.find("nothing was written"), std::string::npos) << err;
    // The next change that is saved clears the text.
    EXPECT_EQ(core->SendMessage(CDirectoryMessage::DeleteUser(true, u"cy")), 0);
    EXPECT_TRUE(core->LastSaveError().empty());
}

TEST_F(FailurePath, ExportLeavesTheOldFileAndNamesTheError) {
    auto core = StartCore(m_dir / "registry.db");
    for (int i = 0; i < 40; ++i) {
        core->SendMessage(CDirectoryMessage::AddUser(
            true, User(u"user" + Utf8ToUtf16(std::to_string(i)), u"password", {u"Everyone"})));
    }
    const std::vector<uint8_t> old = {0, 0, 0, 0};
    const std::u16string path = PathText(File());
    const std::pair<int, std::u16string> errors[] = {
        {ENOSPC, u"Disk full while accessing " + path + u"."},
        {EIO, u"A hardware I/O error was reported while accessing " + path + u"."},
        {EBADF, u"An unknown error occurred while accessing " + path + u"."},
    };
    // A rename refused for any other reason than room or the disk: the file cannot be created.
    const std::u16string createFailed = u"Failed to create a new Configuration File.";
    CFaultFileIo count(0, 0);
    ASSERT_EQ(CConfigFile::Export(m_dir / "count.ovx", *core, count).status, EConfigStatus::Ok);
    for (const auto& [error, text] : errors) {
        int nth = 1;
        for (;; ++nth) {
            WriteFileBytes(File(), old);
            CFaultFileIo io(nth, error);
            const CConfigResult result = CConfigFile::Export(File(), *core, io);
            if (!io.Fired()) {
                EXPECT_EQ(result.status, EConfigStatus::Ok);
                EXPECT_NE(ReadFileBytes(File()), old);
                break;
            }
            const bool refused = nth == count.Calls() && error == EBADF;
            EXPECT_EQ(result.status,
                      refused ? EConfigStatus::CreateFailed : EConfigStatus::WriteError)
                << "call " << nth;
            EXPECT_EQ(result.strMessage, refused ? createFailed : text) << "call " << nth;
            EXPECT_EQ(ReadFileBytes(File()), old) << "call " << nth;
            // No temporary file is left beside the target.
            for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path())) {
                EXPECT_FALSE(entry.path().filename().string().starts_with("directory.ovx."))
                    << "call " << nth;
            }
        }
        // Several writes, the fsync and the rename.
        EXPECT_GT(nth, 5);
    }
}

TEST_F(FailurePath, ImportReadErrorIsAFileErrorAndChangesNothing) {
    auto core = StartCore(m_dir / "registry.db");
    for (int i = 0; i < 40; ++i) {
        core->SendMessage(CDirectoryMessage::AddUser(
            true, User(u"user" + Utf8ToUtf16(std::to_string(i)), u"password", {u"Everyone"})));
    }
    ASSERT_EQ(CConfigFile::Export(File(), *core).status, EConfigStatus::Ok);
    for (int i = 0; i < 40; ++i) {
        core->SendMessage(
            CDirectoryMessage::DeleteUser(true, u"user" + Utf8ToUtf16(std::to_string(i))));
    }
    const CStoreState before = State(m_dir / "registry.db");
    const std::u16string path = PathText(File());
    const std::pair<int, std::u16string> errors[] = {
        {EIO, u"A hardware I/O error was reported while accessing " + path + u"."},
        {EINVAL, u"An unknown error occurred while accessing " + path + u"."},
    };
    for (const auto& [error, text] : errors) {
        int nth = 1;
        for (;; ++nth) {
            CFaultFileIo io(nth, error);
            const CConfigResult result = CConfigFile::Import(File(), *core, io);
            if (!io.Fired()) {
                EXPECT_EQ(result.status, EConfigStatus::Ok);
                break;
            }
            EXPECT_EQ(result.status, EConfigStatus::ReadError) << "call " << nth;
            EXPECT_EQ(result.strMessage, text) << "call " << nth;
            EXPECT_EQ(core->UserNames().size(), 1u) << "call " << nth;
            EXPECT_EQ(State(m_dir / "registry.db"), before) << "call " << nth;
        }
        EXPECT_GT(nth, 2);
        for (int i = 0; i < 40; ++i) {
            core->SendMessage(
                CDirectoryMessage::DeleteUser(true, u"user" + Utf8ToUtf16(std::to_string(i))));
        }
    }
}
