// The sealed file on disk; see CSealedFileStore.h.
#include "core/seal/CSealedFileStore.h"

#include "platform/io/StateFolder.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr mode_t kFileMode = 0600;
constexpr std::size_t kReadChunk = 64 * 1024;

std::string ErrnoText(int error) {
    return error == ELOOP ? "it is a symbolic link, which is not followed" : std::strerror(error);
}

// Closes through the seam, so that a test sees (and may fail) every close.
class COpsFd {
public:
    COpsFd(IFileOps& ops, int fd) : m_ops(ops), m_fd(fd) {}
    ~COpsFd() {
        if (m_fd >= 0) {
            m_ops.Close(m_fd);
        }
    }
    COpsFd(const COpsFd&) = delete;
    COpsFd& operator=(const COpsFd&) = delete;
    int Get() const { return m_fd; }
    int Close() { return m_ops.Close(std::exchange(m_fd, -1)); }

private:
    IFileOps& m_ops;
    int m_fd;
};

std::filesystem::path TemporaryBeside(const std::filesystem::path& path) {
    static std::atomic<unsigned> counter{0};
    return path.parent_path() / ("." + path.filename().string() + ".tmp-" +
                                 std::to_string(::getpid()) + "-" + std::to_string(++counter));
}

std::filesystem::path FolderOf(const std::filesystem::path& path) {
    return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

} // namespace

CSealedFileStore::CSealedFileStore(std::filesystem::path path, std::shared_ptr<IFileOps> ops)
    : m_path(std::move(path)), m_ops(std::move(ops)) {}

CSealedFileStore::CLoadResult CSealedFileStore::Load() const {
    CLoadResult result;
    COpsFd fd(*m_ops, m_ops->Open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0));
    struct stat st {};
    if (fd.Get() < 0 || m_ops->Fstat(fd.Get(), &st) != 0) {
        const int error = errno;
        result.eError = error == ENOENT ? ESealError::NotFound : ESealError::Unreadable;
        result.strReason = ErrnoText(error);
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.eError = ESealError::Unreadable;
        result.strReason = "it is not a regular file";
        return result;
    }
    // Read up to one byte past the cap, whatever the size said: the file may be growing.
    while (result.bytes.size() <= kMaxFileBytes) {
        const std::size_t at = result.bytes.size();
        result.bytes.resize(at + kReadChunk);
        const ssize_t n = m_ops->Read(
            fd.Get(), {reinterpret_cast<std::uint8_t*>(result.bytes.data()) + at, kReadChunk});
        if (n < 0 && errno == EINTR) {
            result.bytes.resize(at);
            continue;
        }
        if (n < 0) {
            result = {ESealError::Unreadable, {}, ErrnoText(errno)};
            return result;
        }
        result.bytes.resize(at + static_cast<std::size_t>(n));
        if (n == 0) {
            return result;
        }
    }
    return {ESealError::NotSealedFile, {}, "it is larger than any sealed file (over 64 MB)"};
}

std::string CSealedFileStore::Write(std::string_view bytes) {
    std::error_code ec;
    if (!std::filesystem::is_directory(FolderOf(m_path), ec)) {
        MakePrivateFolderFor(m_path);
    }
    const std::filesystem::path temporary = TemporaryBeside(m_path);
    std::string reason = WriteTemporary(temporary, bytes);
    if (reason.empty() && m_ops->Rename(temporary.c_str(), m_path.c_str()) != 0) {
        reason = ErrnoText(errno);
    }
    if (!reason.empty()) {
        const int saved = errno;
        m_ops->Unlink(temporary.c_str());
        errno = saved;
        return reason;
    }
    return SyncFolder();
}

std::string CSealedFileStore::WriteTemporary(const std::filesystem::path& temporary,
                                             std::string_view bytes) {
    COpsFd fd(*m_ops, m_ops->Open(temporary.c_str(),
                                  O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, kFileMode));
    if (fd.Get() < 0) {
        return ErrnoText(errno);
    }
    auto rest = std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    while (!rest.empty()) {
        const ssize_t n = m_ops->Write(fd.Get(), rest);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // A write that moves nothing would loop for ever: the disk is as good as full.
            return n == 0 ? ErrnoText(ENOSPC) : ErrnoText(errno);
        }
        rest = rest.subspan(static_cast<std::size_t>(n));
    }
    if (m_ops->Fsync(fd.Get()) != 0 || fd.Close() != 0) {
        return ErrnoText(errno);
    }
    return {};
}

std::string CSealedFileStore::Remove() {
    if (m_ops->Unlink(m_path.c_str()) != 0 && errno != ENOENT) {
        return ErrnoText(errno);
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(FolderOf(m_path), ec)) {
        return {};
    }
    return SyncFolder();
}

// The rename is durable only once the folder that holds the name is synced.
std::string CSealedFileStore::SyncFolder() const {
    COpsFd folder(*m_ops, m_ops->OpenFolder(FolderOf(m_path).c_str()));
    if (folder.Get() < 0 || m_ops->Fsync(folder.Get()) != 0 || folder.Close() != 0) {
        return ErrnoText(errno);
    }
    return {};
}
