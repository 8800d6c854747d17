#include "core/CConfigFile.h"

#include "core/CArchiveWriter.h"
#include "platform/text/TextConv.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/support/Hex.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class ConfigFile : public ::testing::Test {
protected:
    CTempDir m_dir;
    std::filesystem::path Db() const { return m_dir / "registry.db"; }
    std::filesystem::path File() const { return m_dir / "directory.ovx"; }

    static void Populate(COrvaneSrvCore& core) {
        core.SendMessage(CDirectoryMessage::AddGroup(true, Group(u"ops", {}, {u"00:11", u"aa"})));
        // One group that maps directory groups puts every group of the file at its schema.
        core.SendMessage(CDirectoryMessage::AddGroup(
            true, Group(u"dir", {}, {u"aa"}, {u"cn=Ops,ou=groups,dc=example", u"cn=b\\,c,dc=x"})));
        core.SendMessage(
            CDirectoryMessage::AddUser(true, User(u"bob", u"p\"w", {u"ops", u"Everyone"})));
        core.SendMessage(CDirectoryMessage::AddUser(true, User(u"\u00e9ve", u"", {u"ghost"})));
    }
};

} // namespace

TEST_F(ConfigFile, ExportThenImportLeavesEveryValueByteIdentical) {
    auto core = StartCore(Db());
    Populate(*core);
    const auto users = ReadValues(Db(), kUserKey);
    const auto groups = ReadValues(Db(), kGroupKey);
    ASSERT_EQ(CConfigFile::Export(File(), *core).status, EConfigStatus::Ok);
    ASSERT_EQ(CConfigFile::Import(File(), *core).status, EConfigStatus::Ok);
    EXPECT_EQ(ReadValues(Db(), kUserKey), users);
    EXPECT_EQ(ReadValues(Db(), kGroupKey), groups);
    EXPECT_EQ(core->GroupRecord(u"dir")->m_listDirectoryGroups,
              (Names{u"cn=Ops,ou=groups,dc=example", u"cn=b\\,c,dc=x"}));

    // Into another store: the same values.
    CTempDir other;
    auto second = MakeCore(other / "registry.db");
    second->LoadDirectory(); // creates the two keys, as start-up does
    ASSERT_EQ(CConfigFile::Import(File(), *second).status, EConfigStatus::Ok);
    EXPECT_EQ(ReadValues(other / "registry.db", kUserKey), users);
    EXPECT_EQ(ReadValues(other / "registry.db", kGroupKey), groups);
}

TEST_F(ConfigFile, ExportOfAFreshInstallation) {
    auto core = StartCore(Db());
    ASSERT_EQ(CConfigFile::Export(File(), *core).status, EConfigStatus::Ok);
    struct stat st {};
    ASSERT_EQ(::stat(File().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    CGroupTable groups;
    CUserTable users;
    ASSERT_EQ(CConfigFile::Parse(ReadFileBytes(File()), groups, users), EArchiveError::None);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups.at(u"Administrator")->m_listUsers, Names{u"admin"});
    EXPECT_EQ(groups.at(u"Everyone")->m_listUsers, Names{u"admin"});
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users.at(u"admin")->m_listGroups.size(), 2u);
    // No temporary file is left beside the target.
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with("directory.ovx."))
            << entry.path();
    }
}

TEST_F(ConfigFile, EmptyDirectoryIsFourZeroBytes) {
    auto core = MakeCore(Db());
    ASSERT_EQ(CConfigFile::Export(File(), *core).status, EConfigStatus::Ok);
    EXPECT_EQ(ReadFileBytes(File()), FromHex("00 00 00 00"));
}

TEST_F(ConfigFile, ImportMergesByKeyAndRewritesEverything) {
    // The file: group "ops" listing a member the file lacks, and user "bob" in ops.
    CGroupTable groups;
    groups[u"ops"] = Group(u"ops", {u"bob", u"zed"}, {u"m1"});
    CUserTable users;
    users[u"bob"] = User(u"bob", u"new", {u"ops"});
    WriteFileBytes(File(), CConfigFile::Serialize(groups, users));

    auto core = StartCore(Db());
    core->SendMessage(CDirectoryMessage::AddUser(true, User(u"bob", u"old", {u"Everyone"})));
    core->SendMessage(CDirectoryMessage::AddUser(true, User(u"keep", u"k")));
    ASSERT_EQ(CConfigFile::Import(File(), *core).status, EConfigStatus::Ok);

    // Records are stored as read: no linking, so Everyone still lists bob.
    EXPECT_EQ(core->UserRecord(u"bob")->m_strPassword, u"new");
    EXPECT_EQ(core->UserRecord(u"bob")->m_listGroups, Names{u"ops"});
    EXPECT_EQ(core->GroupRecord(u"ops")->m_listUsers, (Names{u"bob", u"zed"}));
    EXPECT_EQ(core->GroupRecord(u"Everyone")->m_listUsers, (Names{u"admin", u"bob"}));
    EXPECT_TRUE(core->UserRecord(u"keep").has_value());
    const auto stored = ReadValues(Db(), kUserKey);
    EXPECT_EQ(stored.size(), 3u);
    EXPECT_EQ(Decode<CUserData>(stored.at(u"bob")).m_strPassword, u"new");
    EXPECT_EQ(Decode<CGroupData>(ReadValues(Db(), kGroupKey).at(u"ops")).m_listUsers,
              (Names{u"bob", u"zed"}));
}

TEST_F(ConfigFile, FailedImportChangesNothing) {
    auto core = StartCore(Db());
    Populate(*core);
    ASSERT_EQ(CConfigFile::Export(File(), *core).status, EConfigStatus::Ok);
    auto bytes = ReadFileBytes(File());

    core->SendMessage(CDirectoryMessage::AddUser(true, User(u"later", u"")));
    const auto users = ReadValues(Db(), kUserKey);
    const auto groups = ReadValues(Db(), kGroupKey);
    const std::size_t userCount = core->UserNames().size();

    bytes.resize(bytes.size() - 3);
    WriteFileBytes(File(), bytes);
    const CConfigResult result = CConfigFile::Import(File(), *core);
    EXPECT_EQ(result.status, EConfigStatus::FormatError);
    EXPECT_EQ(result.strMessage,
              u"Attempted to access " + Utf8ToUtf16(File().string()) + u" past its end.");
    EXPECT_EQ(core->UserNames().size(), userCount);
    EXPECT_EQ(core->UserRecord(u"bob")->m_listGroups, (Names{u"ops", u"Everyone"}));
    EXPECT_EQ(ReadValues(Db(), kUserKey), users);
    EXPECT_EQ(ReadValues(Db(), kGroupKey), groups);
}

TEST_F(ConfigFile, AnEntryUnderAnotherNameOrASecondTimeIsABadFormat) {
    // A key that is not its record's name would file the record under two names at the next
    // start; a key given twice would drop the first record silently.
    CArchiveWriter twice;
    twice.WriteCount(2);
    for (const char16_t* members : {u"admin", u"bob"}) {
        twice.WriteText(u"ops");
        twice.WriteObject(*Group(u"ops", {members}));
    }
    twice.WriteCount(0);
    CGroupTable renamedGroup;
    renamedGroup[u"Everyone"] = Group(u"Administrator", {u"bob"});
    CUserTable renamedUser;
    renamedUser[u"admin"] = User(u"bob", u"x");
    // A user without a name would be given to every request that names nobody.
    CGroupTable namelessGroup;
    namelessGroup[u""] = Group(u"", {u"admin"});
    CUserTable namelessUser;
    namelessUser[u""] = User(u"", u"", {u"Everyone"});
    const std::vector<std::vector<uint8_t>> files = {
        CConfigFile::Serialize(renamedGroup, {}),
        CConfigFile::Serialize({}, renamedUser),
        CConfigFile::Serialize(namelessGroup, {}),
        CConfigFile::Serialize({}, namelessUser),
        twice.TakeBytes(),
    };

    auto core = StartCore(Db());
    const auto users = ReadValues(Db(), kUserKey);
    const auto groups = ReadValues(Db(), kGroupKey);
    for (const auto& bytes : files) {
        WriteFileBytes(File(), bytes);
        const CConfigResult result = CConfigFile::Import(File(), *core);
        EXPECT_EQ(result.status, EConfigStatus::FormatError);
        EXPECT_EQ(result.strMessage, Utf8ToUtf16(File().string()) + u" has a bad format.");
        EXPECT_EQ(core->UserNames().size(), 1u);
        EXPECT_EQ(core->GroupRecord(u"Everyone")->m_listUsers, Names{u"admin"});
        EXPECT_FALSE(core->GroupRecord(u"ops").has_value());
        EXPECT_EQ(ReadValues(Db(), kUserKey), users);
        EXPECT_EQ(ReadValues(Db(), kGroupKey), groups);
    }
}

TEST_F(ConfigFile, ErrorTextsNameTheFullPath) {
    const std::filesystem::path p = "/data/x.ovx";
    EXPECT_EQ(CConfigFile::FormatErrorText(EArchiveError::BadClass, p),
              u"/data/x.ovx contained an unexpected object.");
    EXPECT_EQ(CConfigFile::FormatErrorText(EArchiveError::BadSchema, p),
              u"/data/x.ovx contains an incorrect schema.");
    EXPECT_EQ(CConfigFile::FormatErrorText(EArchiveError::BadIndex, p),
              u"/data/x.ovx has a bad format.");
    EXPECT_EQ(CConfigFile::FormatErrorText(EArchiveError::Generic, p),
              u"An unknown error occurred while accessing /data/x.ovx.");
}

TEST_F(ConfigFile, PathsThatCannotBeUsed) {
    auto core = StartCore(Db());
    EXPECT_EQ(CConfigFile::Import(m_dir / "missing.ovx", *core).strMessage,
              u"Failed to open Configuration File.");
    EXPECT_EQ(CConfigFile::Import(m_dir.Path(), *core).status, EConfigStatus::OpenFailed);
    EXPECT_EQ(CConfigFile::Export(m_dir / "no" / "such" / "dir.ovx", *core).strMessage,
              u"Failed to create a new Configuration File.");
}

TEST_F(ConfigFile, ExportReplacesAnExistingFileWhole) {
    WriteFileBytes(File(), std::vector<uint8_t>(100000, 0xAB));
    auto core = StartCore(Db());
    ASSERT_EQ(CConfigFile::Export(File(), *core).status, EConfigStatus::Ok);
    CGroupTable groups;
    CUserTable users;
    EXPECT_EQ(CConfigFile::Parse(ReadFileBytes(File()), groups, users), EArchiveError::None);
    EXPECT_LT(ReadFileBytes(File()).size(), 1000u);
}
