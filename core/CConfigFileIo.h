// The file calls that export and import make once the file is open, behind one seam so that a
// test can make any of them fail. This class makes the system calls; each answers as the call
// it stands for does (-1 with errno set on failure).
#pragma once

#include <cstdint>
#include <span>
#include <sys/types.h>

class CConfigFileIo {
public:
    virtual ~CConfigFileIo() = default;
    virtual ssize_t Write(int fd, std::span<const uint8_t> bytes);
    virtual int Fsync(int fd);
    virtual int Rename(const char* from, const char* to);
    virtual ssize_t Read(int fd, std::span<uint8_t> buffer);
};
