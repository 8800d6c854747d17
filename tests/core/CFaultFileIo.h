// File calls for export and import that fail the nth call (counting writes, fsyncs, renames and
// reads alike) with a chosen errno. Writes and reads move at most kStep bytes a call, so that a
// file of a few kilobytes takes several calls and a failure can fall between them.
#pragma once

#include "core/CConfigFileIo.h"
#include "tests/support/CNthCallFault.h"

#include <cerrno>
#include <cstddef>

class CFaultFileIo : public CConfigFileIo {
public:
    static constexpr std::size_t kStep = 1000;

    CFaultFileIo(int nth, int error) : m_fault(nth, error) {}

    ssize_t Write(int fd, std::span<const uint8_t> bytes) override {
        return Fails() ? -1 : CConfigFileIo::Write(fd, bytes.first(std::min(bytes.size(), kStep)));
    }
    int Fsync(int fd) override { return Fails() ? -1 : CConfigFileIo::Fsync(fd); }
    int Rename(const char* from, const char* to) override {
        return Fails() ? -1 : CConfigFileIo::Rename(from, to);
    }
    ssize_t Read(int fd, std::span<uint8_t> buffer) override {
        return Fails() ? -1 : CConfigFileIo::Read(fd, buffer.first(std::min(buffer.size(), kStep)));
    }

    bool Fired() const { return m_fault.Fired(); }
    int Calls() const { return m_fault.Calls(); }

private:
    bool Fails() { return m_fault.Fails(); }

    CNthCallFault m_fault;
};
