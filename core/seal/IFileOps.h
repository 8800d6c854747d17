// The system calls the sealed file's store makes, behind one seam so that a test can fail any
// one of them in turn. Each answers as the call it stands for (-1 with errno set on failure).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <sys/stat.h>
#include <sys/types.h>

class IFileOps {
public:
    virtual ~IFileOps() = default;
    virtual int Open(const char* path, int flags, mode_t mode) = 0;
    // A folder opened for its fsync.
    virtual int OpenFolder(const char* path) = 0;
    virtual int Fstat(int fd, struct stat* st) = 0;
    virtual ssize_t Read(int fd, std::span<std::uint8_t> buffer) = 0;
    virtual ssize_t Write(int fd, std::span<const std::uint8_t> bytes) = 0;
    virtual int Fsync(int fd) = 0;
    virtual int Close(int fd) = 0;
    virtual int Rename(const char* from, const char* to) = 0;
    virtual int Unlink(const char* path) = 0;
};

// The calls themselves.
std::shared_ptr<IFileOps> RealFileOps();
