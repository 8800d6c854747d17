// The key file: every way it may be unsafe or malformed is refused with its name, the forms an
// operator writes are taken, and a created one loads back.
#include "core/seal/SealKeyFile.h"

#include "tests/support/CTempDir.h"
#include "tests/support/TestGate.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kHex = "00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF";

std::filesystem::path Put(const CTempDir& dir, const std::string& name, const std::string& content,
                          mode_t mode = 0600) {
    dir.Write(name, content);
    ::chmod((dir / name).c_str(), mode);
    return dir / name;
}

TEST(SealKeyFile, UnsafeOrMalformedFilesAreRefusedByName) {
    CTempDir dir;
    std::filesystem::create_directory(dir / "folder");
    std::filesystem::create_symlink(Put(dir, "good", kHex), dir / "link");
    const std::filesystem::path forbidden[] = {dir / "served"};
    const struct {
        std::filesystem::path file;
        const char* why;
    } cases[] = {
        {dir / "absent", "cannot be read"},
        {dir / "link", "symbolic link"},
        {dir / "folder", "not a regular file"},
        {Put(dir, "0640", kHex, 0640), "mode 0600 or stricter (it is 0640)"},
        {Put(dir, "0604", kHex, 0604), "mode 0600 or stricter (it is 0604)"},
        {Put(dir, "31", std::string(31, 'k')), "exactly 32 bytes"},
        {Put(dir, "33", std::string(33, 'k')), "exactly 32 bytes"},
        {Put(dir, "63", kHex.substr(1)), "exactly 32 bytes"},
        {Put(dir, "nonhex", "g" + kHex.substr(1)), "exactly 32 bytes"},
        {Put(dir, "twolines", kHex + "\n\n"), "exactly 32 bytes"},
        {Put(dir, "served/key", kHex), "must not lie inside"},
        {dir / "folder/../served/./key", "must not lie inside"},
    };
    for (const auto& c : cases) {
        const CSealKeyLoad load = LoadSealKeyFile(c.file, forbidden);
        EXPECT_TRUE(load.key.Empty()) << c.file;
        EXPECT_NE(std::string::npos, load.strError.find(c.why)) << load.strError;
        EXPECT_NE(std::string::npos, load.strError.find(c.file.string())) << load.strError;
    }
}

TEST(SealKeyFile, AFileOfAnotherUserIsRefused) {
    if (::geteuid() != 0) {
        ORVANE_SKIP("only root can give a file away");
    }
    CTempDir dir;
    const auto file = Put(dir, "key", kHex);
    ASSERT_EQ(0, ::chown(file.c_str(), 65534, 65534));
    EXPECT_NE(std::string::npos, LoadSealKeyFile(file, {}).strError.find("not owned"));
}

TEST(SealKeyFile, RawAndHexFormsGiveTheSameKey) {
    CTempDir dir;
    const CSealKeyLoad hex = LoadSealKeyFile(Put(dir, "hex", kHex), {});
    ASSERT_EQ("", hex.strError);
    const std::string raw(hex.key.Bytes().begin(), hex.key.Bytes().end());
    EXPECT_EQ(0xFF, hex.key.Bytes()[31]);
    for (const std::string& content : {raw, kHex + "\n", kHex + "\r\n"}) {
        const CSealKeyLoad load = LoadSealKeyFile(Put(dir, "key", content), {});
        EXPECT_EQ("", load.strError);
        EXPECT_TRUE(load.key == hex.key) << content.size();
    }
}

TEST(SealKeyFile, ACreatedFileLoadsAndIsNeverOverwritten) {
    CTempDir dir;
    const auto file = dir / "new.key";
    const mode_t old = ::umask(0);
    ASSERT_EQ("", CreateSealKeyFile(file));
    ::umask(old);
    EXPECT_EQ(std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
              std::filesystem::status(file).permissions());
    const CSealKeyLoad first = LoadSealKeyFile(file, {});
    ASSERT_EQ("", first.strError);
    EXPECT_EQ(32u, first.key.Size());
    EXPECT_NE(std::string::npos, CreateSealKeyFile(file).find("already exists"));
    EXPECT_TRUE(LoadSealKeyFile(file, {}).key == first.key);
}

} // namespace
