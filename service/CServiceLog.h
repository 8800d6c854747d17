// Where the credential service's log goes: a stream (standard error in the program) and, when
// configured, a file of the operator's own (folder mode 0700, file mode 0600) that is rotated
// before it would pass its size limit: service.log -> service.log.1 -> ... -> service.log.N,
// the oldest dropped. Each entry goes to each destination with one write() call; file writes
// and rotations are serialised, so entries of different threads never interleave.
#pragma once

#include "platform/io/CUniqueFd.h"
#include "service/listener/CBlockingSocketException.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <netinet/in.h>
#include <string_view>

class CServiceLog {
public:
    static constexpr uint64_t kDefaultMaxFileBytes = uint64_t{10} << 20;
    static constexpr int kDefaultKeptFiles = 5;

    // nStreamFd: -1 for none. file: empty for none; its folder is created when missing.
    explicit CServiceLog(int nStreamFd, std::filesystem::path file = {},
                         uint64_t nMaxFileBytes = kDefaultMaxFileBytes,
                         int nKeptFiles = kDefaultKeptFiles);
    CServiceLog(const CServiceLog&) = delete;
    CServiceLog& operator=(const CServiceLog&) = delete;

    // Writes one whole entry to every destination.
    void Write(std::string_view entry);
    // One of the program's own lines ("OrvaneSrv: ...\n"), stamped with the time.
    void Note(std::string_view line);
    void LogConnection(int nConnection, const sockaddr_in& peer, std::string_view line);
    void LogSocketError(const CBlockingSocketException& e, std::string_view prefix);

    // $XDG_STATE_HOME/OrvaneSrv/service.log (an absolute XDG_STATE_HOME only), else
    // ~/.local/state/OrvaneSrv/service.log; empty without a home directory.
    static std::filesystem::path DefaultFilePath();

private:
    void OpenFile();
    void RotateFile();
    std::filesystem::path OldFile(int n) const;

    const int m_nStreamFd;
    const std::filesystem::path m_file;
    const uint64_t m_nMaxFileBytes;
    const int m_nKeptFiles;
    std::mutex m_fileMutex;
    CUniqueFd m_fileFd;
    uint64_t m_nFileBytes = 0;
};
