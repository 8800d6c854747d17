#include "service/OpenRequestedFile.h"

#include <fcntl.h>
#include <limits.h>
#include <string>
#include <sys/stat.h>

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

// Opens name below the root; a FIFO or device never blocks the open and is never served.
EKind OpenBelowRoot(const std::string& name, const std::string& docRoot, CUniqueFd& out) {
    if (!IsServableName(name)) {
        return EKind::None;
    }
    const std::string full = docRoot + (docRoot.ends_with('/') ? "" : "/") + name;
    CUniqueFd fd(::open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0 || !InsideRoot(RealPathOf(fd.Get()), docRoot)) {
        return EKind::None;
    }
    if (S_ISDIR(st.st_mode)) {
        return EKind::Folder;
    }
    if (!S_ISREG(st.st_mode)) {
        return EKind::None;
    }
    // Reads are blocking again; a regular file never waits anyway.
    ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
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

CUniqueFd OpenRequestedFile(std::string_view path, const std::string& docRoot) {
    if (path.starts_with('/')) {
        path.remove_prefix(1);
    }
    std::string name(path);
    CUniqueFd file;
    if (OpenBelowRoot(name, docRoot, file) != EKind::Folder) {
        return file;
    }
    if (!name.empty() && !name.ends_with('/')) {
        name += '/';
    }
    name += "default.htm";
    OpenBelowRoot(name, docRoot, file);
    return file;
}
