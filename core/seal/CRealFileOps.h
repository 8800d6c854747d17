// The file calls of the sealed file's store as the system makes them.
#pragma once

#include "core/seal/IFileOps.h"

class CRealFileOps : public IFileOps {
public:
    int Open(const char* path, int flags, mode_t mode) override;
    int OpenFolder(const char* path) override;
    int Fstat(int fd, struct stat* st) override;
    ssize_t Read(int fd, std::span<std::uint8_t> buffer) override;
    ssize_t Write(int fd, std::span<const std::uint8_t> bytes) override;
    int Fsync(int fd) override;
    int Close(int fd) override;
    int Rename(const char* from, const char* to) override;
    int Unlink(const char* path) override;
};
