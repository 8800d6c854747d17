#include "service/http/OpenRequestedFile.h"

#include "core/CConfigFile.h"
#include "platform/text/TextUtil.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

enum class EKind { None, File, Folder };

bool InsideRoot(const std::string& real, const std::string& docRoot) {
    if (docRoot == "/") {
        return true;
    }
    return real == docRoot || (real.size() > docRoot.size() && real.starts_with(docRoot) &&
                               real[docRoot.size()] == '/');
}

// The real path of an open descriptor, symbolic links resolved.
std::string RealPathOf(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char real[PATH_MAX];
    const ssize_t n = ::readlink(link, real, sizeof real);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof real) {
        return {};
    }
    return {real, static_cast<std::size_t>(n)};
}

// Opens the name with the kernel refusing any resolution that leaves the folder (a "..", an
// absolute link, a link pointing outside): one system call, no real-path check afterwards.
// Answers false when the kernel cannot do it, so that the caller checks the slow way.
// bLinked: a symbolic link was followed on the way, so the file's real name may differ from the
// one asked for. Without links the first attempt opens the file; only a link costs a second.
bool OpenBeneath(int rootFd, const std::string& name, CUniqueFd& fd, bool& bLinked) {
    open_how how{};
    how.flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS | RESOLVE_NO_SYMLINKS;
    long r = ::syscall(SYS_openat2, rootFd, name.c_str(), &how, sizeof how);
    bLinked = r < 0 && errno == ELOOP;
    if (bLinked) {
        how.resolve &= ~static_cast<uint64_t>(RESOLVE_NO_SYMLINKS);
        r = ::syscall(SYS_openat2, rootFd, name.c_str(), &how, sizeof how);
    }
    if (r < 0 && (errno == ENOSYS || errno == EPERM)) {
        return false;
    }
    fd = CUniqueFd(static_cast<int>(r));
    return true;
}

// An exported directory holds every password in clear text; whatever it is called on the way
// (a link, a folder's default page), it is never handed out.
bool IsConfigurationFileName(std::string_view name) {
    constexpr std::string_view kExtension = CConfigFile::kExtension;
    return name.size() >= kExtension.size() &&
           EqualsNoCase(name.substr(name.size() - kExtension.size()), kExtension);
}

// A configuration file keeps its contents whatever it is called (an export named "backup.cfg"
// into the served folder): its first bytes give it away.
bool HoldsConfiguration(int fd) {
    std::array<uint8_t, CConfigFile::kSignatureBytes> head{};
    ssize_t n;
    do {
        n = ::pread(fd, head.data(), head.size(), 0);
    } while (n < 0 && errno == EINTR);
    // A file that cannot be read is not served either.
    return n < 0 || CConfigFile::StartsLikeConfigurationFile(
                        std::span(head.data(), static_cast<std::size_t>(n)));
}

// Opens name below the root; a FIFO or device never blocks the open and is never served.
// O_NONBLOCK stays on: it has no effect on reads of a regular file.
EKind OpenBelowRoot(const std::string& name, const std::string& docRoot, int rootFd,
                    CUniqueFd& out) {
    if (!IsServableName(name)) {
        return EKind::None;
    }
    if (name.empty()) {
        return EKind::Folder; // the served folder itself
    }
    CUniqueFd fd;
    bool bLinked = false;
    bool beneath = rootFd >= 0 && OpenBeneath(rootFd, name, fd, bLinked);
    if (!beneath) {
        bLinked = true; // nothing tells otherwise
        const std::string full = docRoot + (docRoot.ends_with('/') ? "" : "/") + name;
        fd = CUniqueFd(::open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    }
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0 ||
        (!beneath && !InsideRoot(RealPathOf(fd.Get()), docRoot))) {
        return EKind::None;
    }
    if (S_ISDIR(st.st_mode)) {
        return EKind::Folder;
    }
    if (!S_ISREG(st.st_mode) || IsConfigurationFileName(name) ||
        (bLinked && IsConfigurationFileName(RealPathOf(fd.Get()))) ||
        HoldsConfiguration(fd.Get())) {
        return EKind::None;
    }
    out = std::move(fd);
    return EKind::File;
}

} // namespace

bool IsServableName(std::string_view name) {
    if (name.find('\0') != std::string_view::npos || name.starts_with('/')) {
        return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find('/', start), name.size());
        if (end > start && name[start] == '.') {
            return false;
        }
        start = end + 1;
    }
    return true;
}

CUniqueFd OpenRequestedFile(std::string_view path, const std::string& docRoot, int rootFd) {
    // Without an absolute folder every name would be looked up from "/" or the working
    // directory.
    if (!docRoot.starts_with('/')) {
        return {};
    }
    if (path.starts_with('/')) {
        path.remove_prefix(1);
    }
    std::string name(path);
    CUniqueFd file;
    if (OpenBelowRoot(name, docRoot, rootFd, file) != EKind::Folder) {
        return file;
    }
    if (!name.empty() && !name.ends_with('/')) {
        name += '/';
    }
    name += "default.htm";
    OpenBelowRoot(name, docRoot, rootFd, file);
    return file;
}
