// Reading a secret from an owner-only file; see SecretFile.h.
#include "core/settings/SecretFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxSecretSize = 4096;
constexpr mode_t kGroupAndOthers = 077;

class CFd {
public:
    explicit CFd(int fd) : m_fd(fd) {}
    ~CFd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

std::string Errno(std::string_view what) {
    return std::string(what) + ": " + std::strerror(errno);
}

std::size_t WithoutLineBreak(std::span<const std::uint8_t> bytes) {
    std::size_t n = bytes.size();
    if (n > 0 && bytes[n - 1] == '\n') {
        --n;
        if (n > 0 && bytes[n - 1] == '\r') {
            --n;
        }
    }
    return n;
}

} // namespace

std::string ReadOwnSecretFile(const std::filesystem::path& path, CSecretBytes& secret) {
    // O_NOFOLLOW: the checks below must be of the file itself, not of where a link points.
    const CFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    if (fd.Get() < 0) {
        return Errno("cannot open " + path.string());
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        return Errno("cannot check " + path.string());
    }
    if (!S_ISREG(st.st_mode)) {
        return path.string() + " is not a regular file";
    }
    if (st.st_uid != ::geteuid()) {
        return path.string() + " belongs to another user";
    }
    if ((st.st_mode & kGroupAndOthers) != 0) {
        return path.string() + " is open to group or others: make it mode 0600";
    }
    if (static_cast<std::size_t>(st.st_size) > kMaxSecretSize) {
        return path.string() + " is larger than a password can be";
    }
    CSecretBytes bytes(kMaxSecretSize + 1);
    std::size_t total = 0;
    while (total < bytes.Size()) {
        const ssize_t n = ::read(fd.Get(), bytes.Bytes().data() + total, bytes.Size() - total);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return Errno("cannot read " + path.string());
        }
        if (n == 0) {
            break;
        }
        total += static_cast<std::size_t>(n);
    }
    if (total > kMaxSecretSize) {
        return path.string() + " is larger than a password can be";
    }
    bytes.Resize(WithoutLineBreak(bytes.Bytes().first(total)));
    if (bytes.Empty()) {
        return path.string() + " is empty";
    }
    secret = std::move(bytes);
    return {};
}
