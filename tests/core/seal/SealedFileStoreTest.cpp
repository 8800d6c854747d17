// The sealed file on disk: a write that fails at any call leaves the previous file whole and no
// temporary behind; a load tells absence, a foreign file and an oversized one apart.
#include "core/seal/CRealFileOps.h"
#include "core/seal/CSealedFileStore.h"
#include "tests/core/seal/SealTestSupport.h"
#include "tests/support/CNthCallFault.h"
#include "tests/support/CTempDir.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

// The real calls, the nth of which fails with a chosen errno; writes may be cut short.
class CFaultOps : public CRealFileOps {
public:
    CFaultOps(int nth, int error, std::size_t nMaxWrite)
        : m_fault(nth, error), m_nMaxWrite(nMaxWrite) {}
    int Open(const char* p, int f, mode_t m) override {
        return Fails() ? -1 : CRealFileOps::Open(p, f, m);
    }
    int OpenFolder(const char* p) override { return Fails() ? -1 : CRealFileOps::OpenFolder(p); }
    int Fstat(int fd, struct stat* st) override {
        return Fails() ? -1 : CRealFileOps::Fstat(fd, st);
    }
    ssize_t Read(int fd, std::span<std::uint8_t> b) override {
        return Fails() ? -1 : CRealFileOps::Read(fd, b);
    }
    ssize_t Write(int fd, std::span<const std::uint8_t> b) override {
        return Fails() ? -1 : CRealFileOps::Write(fd, b.first(std::min(b.size(), m_nMaxWrite)));
    }
    int Fsync(int fd) override { return Fails() ? -1 : CRealFileOps::Fsync(fd); }
    int Close(int fd) override {
        return Fails() ? (CRealFileOps::Close(fd), -1) : CRealFileOps::Close(fd);
    }
    int Rename(const char* from, const char* to) override {
        if (Fails()) {
            return -1;
        }
        const int rc = CRealFileOps::Rename(from, to);
        m_bRenamed = rc == 0;
        return rc;
    }
    int Unlink(const char* p) override { return Fails() ? -1 : CRealFileOps::Unlink(p); }

    bool Fired() const { return m_fault.Fired(); }
    bool Renamed() const { return m_bRenamed; }

private:
    bool Fails() { return m_fault.Fails(); }

    CNthCallFault m_fault;
    std::size_t m_nMaxWrite;
    bool m_bRenamed = false;
};

std::size_t FilesIn(const std::filesystem::path& folder) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

TEST(SealedFileStore, AWriteFailingAtAnyCallKeepsThePreviousFileWhole) {
    CTempDir dir;
    const auto path = dir / "authorizations.sealed";
    const std::string first = TestSealedFile();
    auto second = TestRecords();
    second.resize(1);
    const std::string secondFile = TestSealedFile(second);
    for (const auto& [error, nMaxWrite] :
         {std::pair{ENOSPC, SIZE_MAX}, {EIO, SIZE_MAX}, {ENOSPC, 7}}) {
        ASSERT_EQ("", CSealedFileStore(path).Write(first));
        for (int nth = 1;; ++nth) {
            auto ops = std::make_shared<CFaultOps>(nth, error, nMaxWrite);
            const std::string reason = CSealedFileStore(path, ops).Write(secondFile);
            if (!ops->Fired()) {
                EXPECT_EQ("", reason);
                break;
            }
            EXPECT_EQ(std::strerror(error), reason) << nth;
            EXPECT_EQ(1u, FilesIn(dir.Path())) << nth;
            // Past the rename only the folder's sync can fail: the new file is then in place.
            const auto loaded = CSealedFileStore(path).Load();
            EXPECT_EQ(ops->Renamed() ? secondFile : first, loaded.bytes) << nth;
            EXPECT_EQ(ESealError::None, OpenSealedFile(loaded.bytes, TestSealKey().Bytes()).eError);
            ASSERT_EQ("", CSealedFileStore(path).Write(first));
        }
    }
}

TEST(SealedFileStore, LoadTellsAbsentForeignAndOversizedFilesApart) {
    CTempDir dir;
    std::filesystem::create_directory(dir / "folder");
    std::filesystem::create_symlink(dir / "target", dir / "link");
    dir.Write("target", "x");
    ASSERT_EQ(0, ::truncate((dir / "target").c_str(), CSealedFileStore::kMaxFileBytes + 1));
    const struct {
        const char* name;
        ESealError eError;
    } cases[] = {
        {"absent", ESealError::NotFound},
        {"folder", ESealError::Unreadable},
        {"link", ESealError::Unreadable},
        {"target", ESealError::NotSealedFile},
    };
    for (const auto& c : cases) {
        const auto loaded = CSealedFileStore(dir / c.name).Load();
        EXPECT_EQ(c.eError, loaded.eError) << c.name;
        EXPECT_FALSE(loaded.strReason.empty()) << c.name;
    }
}

TEST(SealedFileStore, WriteMakesAPrivateFolderAndFileThatRemoveTakesAway) {
    CTempDir dir;
    const auto path = dir / "a/b/authorizations.sealed";
    CSealedFileStore store(path);
    ASSERT_EQ("", store.Write(TestSealedFile()));
    EXPECT_EQ(std::filesystem::perms::owner_all,
              std::filesystem::status(path.parent_path()).permissions());
    EXPECT_EQ(std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
              std::filesystem::status(path).permissions());
    EXPECT_EQ(ESealError::None, store.Load().eError);
    EXPECT_EQ("", store.Remove());
    EXPECT_EQ(ESealError::NotFound, store.Load().eError);
    EXPECT_EQ("", store.Remove());
}

} // namespace
