#include "service/CServiceLog.h"

#include "platform/io/StateFolder.h"
#include "service/ServiceLogText.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kFileMode = 0600;

// One write() call; false when it failed or was cut short (a full disk).
bool WriteOnce(int fd, std::string_view entry) {
    ssize_t r;
    do {
        r = ::write(fd, entry.data(), entry.size());
    } while (r < 0 && errno == EINTR);
    return r == static_cast<ssize_t>(entry.size());
}

} // namespace

CServiceLog::CServiceLog(int nStreamFd, std::filesystem::path file, uint64_t nMaxFileBytes,
                         int nKeptFiles)
    : m_nStreamFd(nStreamFd), m_file(std::move(file)), m_nMaxFileBytes(nMaxFileBytes),
      m_nKeptFiles(nKeptFiles) {
    if (!m_file.empty()) {
        OpenFile();
    }
}

std::filesystem::path CServiceLog::DefaultFilePath() {
    const std::filesystem::path folder = ProgramStateFolder();
    return folder.empty() ? folder : folder / "service.log";
}

void CServiceLog::OpenFile() {
    // Entries name users and addresses: the folder and the file are the operator's alone.
    MakePrivateFolderFor(m_file);
    m_fileFd.Reset(
        ::open(m_file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kFileMode));
    struct stat st {};
    if (!m_fileFd || ::fchmod(m_fileFd.Get(), kFileMode) != 0 ||
        ::fstat(m_fileFd.Get(), &st) != 0) {
        const std::string reason = std::strerror(errno);
        m_fileFd.Reset();
        if (m_nStreamFd >= 0) {
            WriteOnce(m_nStreamFd, "OrvaneSrv: cannot write the service log " +
                                       EscapeForLog(m_file.string()) + ": " + reason + "\n");
        }
        return;
    }
    m_nFileBytes = static_cast<uint64_t>(st.st_size);
}

std::filesystem::path CServiceLog::OldFile(int n) const {
    return m_file.string() + "." + std::to_string(n);
}

void CServiceLog::RotateFile() {
    m_fileFd.Reset();
    // Renaming onto the oldest kept name drops the file that was there.
    for (int n = m_nKeptFiles - 1; n >= 1; --n) {
        ::rename(OldFile(n).c_str(), OldFile(n + 1).c_str());
    }
    if (m_nKeptFiles > 0) {
        ::rename(m_file.c_str(), OldFile(1).c_str());
    } else {
        ::unlink(m_file.c_str());
    }
    OpenFile();
}

void CServiceLog::Write(std::string_view entry) {
    // A single write() of an entry to a stream or an appending file is not interleaved with
    // another thread's: the stream needs no lock.
    if (m_nStreamFd >= 0) {
        WriteOnce(m_nStreamFd, entry);
    }
    if (m_file.empty()) {
        return;
    }
    std::lock_guard lock(m_fileMutex);
    if (m_fileFd && m_nFileBytes > 0 && m_nFileBytes + entry.size() > m_nMaxFileBytes) {
        RotateFile();
    }
    if (m_fileFd && WriteOnce(m_fileFd.Get(), entry)) {
        m_nFileBytes += entry.size();
    }
}

void CServiceLog::Note(std::string_view line) {
    Write(StampProgramLine(line, std::chrono::system_clock::now()));
}

void CServiceLog::LogConnection(int nConnection, const sockaddr_in& peer, std::string_view line) {
    Write(ComposeConnectionEntry(nConnection, peer, line, std::time(nullptr)));
}

void CServiceLog::LogSocketError(const CBlockingSocketException& e, std::string_view prefix) {
    Write(ComposeSocketErrorLine(e, prefix, std::time(nullptr)));
}
