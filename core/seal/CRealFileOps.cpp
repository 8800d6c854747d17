// The sealed file's store's calls made for real; see CRealFileOps.h.
#include "core/seal/CRealFileOps.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int CRealFileOps::Open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

int CRealFileOps::OpenFolder(const char* path) {
    return ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int CRealFileOps::Fstat(int fd, struct stat* st) {
    return ::fstat(fd, st);
}

ssize_t CRealFileOps::Read(int fd, std::span<std::uint8_t> buffer) {
    return ::read(fd, buffer.data(), buffer.size());
}

ssize_t CRealFileOps::Write(int fd, std::span<const std::uint8_t> bytes) {
    return ::write(fd, bytes.data(), bytes.size());
}

int CRealFileOps::Fsync(int fd) {
    return ::fsync(fd);
}

int CRealFileOps::Close(int fd) {
    return ::close(fd);
}

int CRealFileOps::Rename(const char* from, const char* to) {
    return std::rename(from, to);
}

int CRealFileOps::Unlink(const char* path) {
    return ::unlink(path);
}

std::shared_ptr<IFileOps> RealFileOps() {
    static const auto ops = std::make_shared<CRealFileOps>();
    return ops;
}
