#include "core/CConfigFileIo.h"

#include <cstdio>
#include <unistd.h>

ssize_t CConfigFileIo::Write(int fd, std::span<const uint8_t> bytes) {
    return ::write(fd, bytes.data(), bytes.size());
}

int CConfigFileIo::Fsync(int fd) {
    return ::fsync(fd);
}

int CConfigFileIo::Rename(const char* from, const char* to) {
    return std::rename(from, to);
}

ssize_t CConfigFileIo::Read(int fd, std::span<uint8_t> buffer) {
    return ::read(fd, buffer.data(), buffer.size());
}
