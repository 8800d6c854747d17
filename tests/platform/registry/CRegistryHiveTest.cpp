#include "platform/registry/CRegistryHive.h"

#include "platform/registry/CRegistryKey.h"
#include "tests/support/CTempDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr std::u16string_view kKey = u"Software\\Tarvik\\OrvaneSrv\\Users";

std::vector<uint8_t> Bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

class RegistryHive : public ::testing::Test {
protected:
    CTempDir m_dir;
    std::filesystem::path File() const { return m_dir / "store" / "registry.db"; }
};

} // namespace

TEST_F(RegistryHive, CreatesFileAndDirectoryPrivately) {
    CRegistryHive hive(File());
    CRegistryKey key;
    ASSERT_EQ(hive.CreateKey(kKey, KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    struct stat st {};
    ASSERT_EQ(::stat(File().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(File().parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(RegistryHive, LooserModesAreNarrowedAtOpenAndNewSideFilesFollowTheStore) {
    {
        CRegistryHive hive(File());
        CRegistryKey key;
        ASSERT_EQ(hive.CreateKey(kKey, KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    }
    const std::string wal = File().string() + "-wal";
    const std::string shm = File().string() + "-shm";
    ASSERT_FALSE(std::filesystem::exists(shm));
    ASSERT_EQ(::chmod(File().parent_path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(File().c_str(), 0644), 0);
    // A side file left over looser; the other one is made anew.
    ASSERT_EQ(::close(::open(wal.c_str(), O_RDWR | O_CREAT, 0666)), 0);
    ASSERT_EQ(::chmod(wal.c_str(), 0664), 0);

    ::testing::internal::CaptureStderr();
    CRegistryHive hive(File());
    CRegistryKey key;
    ASSERT_EQ(hive.OpenKey(kKey, KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    ASSERT_EQ(key.SetValue(u"a", REG_BINARY, Bytes("x")), ERROR_SUCCESS);
    const std::string err = ::testing::internal::GetCapturedStderr();

    const std::pair<std::string, mode_t> expected[] = {
        {File().parent_path().string(), 0700}, {File().string(), 0600}, {wal, 0600}, {shm, 0600}};
    for (const auto& [path, mode] : expected) {
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_mode & 0777, mode) << path;
    }
    EXPECT_EQ(err, "OrvaneSrv: the directory store was open to other users; narrowed " +
                       File().parent_path().string() + " (0755 -> 0700), " + File().string() +
                       " (0644 -> 0600), " + wal + " (0664 -> 0600)\n");

    // Tighter modes are kept: a store its owner made read-only stays so.
    ASSERT_EQ(::chmod(File().c_str(), 0400), 0);
    CRegistryHive again(File());
    ASSERT_EQ(again.OpenKey(kKey, KEY_READ, key), ERROR_SUCCESS);
    struct stat st {};
    ASSERT_EQ(::stat(File().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0400u);

    // A shared folder such as /tmp (sticky, open to all) is nobody's to narrow.
    ASSERT_EQ(::chmod(File().parent_path().c_str(), 01777), 0);
    ASSERT_EQ(::chmod(File().c_str(), 0644), 0);
    CRegistryHive shared(File());
    ASSERT_EQ(shared.OpenKey(kKey, KEY_READ, key), ERROR_SUCCESS);
    ASSERT_EQ(::stat(File().parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 01777u);
    ASSERT_EQ(::stat(File().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(RegistryHive, OpenOfMissingKeyIsNotFoundAndCreateMakesParents) {
    CRegistryHive hive(File());
    CRegistryKey key;
    EXPECT_EQ(hive.OpenKey(kKey, KEY_READ, key), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(key.IsOpen());
    ASSERT_EQ(hive.CreateKey(kKey, KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    EXPECT_EQ(hive.OpenKey(u"Software\\Tarvik", KEY_READ, key), ERROR_SUCCESS);
    // Creating an existing key opens it.
    EXPECT_EQ(hive.CreateKey(kKey, KEY_ALL_ACCESS, key), ERROR_SUCCESS);
}

TEST_F(RegistryHive, ValuesAreExactAndEnumeratedInCreationOrder) {
    {
        CRegistryHive hive(File());
        CRegistryKey key;
        ASSERT_EQ(hive.CreateKey(kKey, KEY_ALL_ACCESS, key), ERROR_SUCCESS);
        const std::u16string lone = {u'x', static_cast<char16_t>(0xDC00)};
        ASSERT_EQ(key.SetValue(u"admin", REG_BINARY, Bytes("one")), ERROR_SUCCESS);
        ASSERT_EQ(key.SetValue(u"Admin", REG_BINARY, Bytes("two")), ERROR_SUCCESS);
        ASSERT_EQ(key.SetValue(lone, REG_BINARY, Bytes(std::string_view("\0\xFF", 2))),
                  ERROR_SUCCESS);
        ASSERT_EQ(key.SetValue(u"empty", REG_BINARY, {}), ERROR_SUCCESS);
        // Replacing keeps the value's place in the order.
        ASSERT_EQ(key.SetValue(u"admin", REG_BINARY, Bytes("three")), ERROR_SUCCESS);
    }
    CRegistryHive hive(File());
    CRegistryKey key;
    ASSERT_EQ(hive.OpenKey(kKey, KEY_READ, key), ERROR_SUCCESS);
    std::u16string name;
    std::vector<uint8_t> data;
    ASSERT_EQ(key.EnumValue(0, name, data), ERROR_SUCCESS);
    EXPECT_EQ(name, u"admin");
    EXPECT_EQ(data, Bytes("three"));
    ASSERT_EQ(key.EnumValue(1, name, data), ERROR_SUCCESS);
    EXPECT_EQ(name, u"Admin");
    ASSERT_EQ(key.EnumValue(2, name, data), ERROR_SUCCESS);
    EXPECT_EQ(name.size(), 2u);
    EXPECT_EQ(name[1], 0xDC00);
    EXPECT_EQ(data, Bytes(std::string_view("\0\xFF", 2)));
    ASSERT_EQ(key.EnumValue(3, name, data), ERROR_SUCCESS);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(key.EnumValue(4, name, data), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryHive, AccessMaskIsEnforced) {
    CRegistryHive hive(File());
    CRegistryKey key;
    ASSERT_EQ(hive.CreateKey(kKey, KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    ASSERT_EQ(hive.OpenKey(kKey, KEY_READ, key), ERROR_SUCCESS);
    EXPECT_EQ(key.SetValue(u"a", REG_BINARY, Bytes("x")), ERROR_ACCESS_DENIED);
    EXPECT_EQ(key.DeleteValue(u"a"), ERROR_ACCESS_DENIED);
    ASSERT_EQ(hive.OpenKey(kKey, KEY_SET_VALUE, key), ERROR_SUCCESS);
    std::u16string name;
    std::vector<uint8_t> data;
    EXPECT_EQ(key.EnumValue(0, name, data), ERROR_ACCESS_DENIED);
    EXPECT_EQ(key.DeleteValue(u"missing"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryHive, UnusableFileFailsEveryCall) {
    // A directory where the database should be, and a file that is not a database.
    std::filesystem::create_directories(File());
    CRegistryHive dirHive(File());
    CRegistryKey key;
    EXPECT_EQ(dirHive.CreateKey(kKey, KEY_ALL_ACCESS, key), ERROR_ACCESS_DENIED);
    EXPECT_NE(dirHive.Begin(), ERROR_SUCCESS);

    const auto garbage = m_dir / "garbage.db";
    FILE* f = std::fopen(garbage.c_str(), "wb");
    std::fputs("this is not a database, not even close to one; ", f);
    for (int i = 0; i < 200; ++i) {
        std::fputs("garbage ", f);
    }
    std::fclose(f);
    CRegistryHive garbageHive(garbage);
    EXPECT_EQ(garbageHive.OpenKey(kKey, KEY_READ, key), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryHive, RolledBackTransactionLeavesNothing) {
    CRegistryHive hive(File());
    CRegistryKey key;
    ASSERT_EQ(hive.CreateKey(kKey, KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    ASSERT_EQ(hive.Begin(), ERROR_SUCCESS);
    ASSERT_EQ(key.SetValue(u"a", REG_BINARY, Bytes("x")), ERROR_SUCCESS);
    hive.Rollback();
    std::u16string name;
    std::vector<uint8_t> data;
    EXPECT_EQ(key.EnumValue(0, name, data), ERROR_NO_MORE_ITEMS);
    ASSERT_EQ(hive.Begin(), ERROR_SUCCESS);
    ASSERT_EQ(key.SetValue(u"b", REG_BINARY, Bytes("y")), ERROR_SUCCESS);
    ASSERT_EQ(hive.Commit(), ERROR_SUCCESS);
    ASSERT_EQ(key.EnumValue(0, name, data), ERROR_SUCCESS);
    EXPECT_EQ(name, u"b");
}

TEST_F(RegistryHive, TwoProcessesWritingAtOnceKeepEveryValue) {
    {
        CRegistryHive hive(File());
        CRegistryKey key;
        ASSERT_EQ(hive.CreateKey(kKey, KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    }
    constexpr int kWrites = 200;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            CRegistryHive hive(File());
            CRegistryKey key;
            bool ok = hive.OpenKey(kKey, KEY_WRITE, key) == ERROR_SUCCESS;
            for (int i = 0; ok && i < kWrites; ++i) {
                const std::u16string name =
                    (c == 0 ? u"a" : u"b") +
                    std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) +
                    std::u16string(1, static_cast<char16_t>(0x100 + i));
                ok = key.SetValue(name, REG_BINARY, Bytes("value")) == ERROR_SUCCESS;
            }
            ::_exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    CRegistryHive hive(File());
    CRegistryKey key;
    ASSERT_EQ(hive.OpenKey(kKey, KEY_READ, key), ERROR_SUCCESS);
    std::u16string name;
    std::vector<uint8_t> data;
    uint32_t n = 0;
    while (key.EnumValue(n, name, data) == ERROR_SUCCESS) {
        ++n;
    }
    EXPECT_EQ(n, 2u * kWrites);
}
