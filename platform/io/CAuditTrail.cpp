// The audit trail's file, rotation, journal and refusal summaries; see CAuditTrail.h.
#include "platform/io/CAuditTrail.h"

#include "platform/io/StateFolder.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <utility>

#ifdef ORVANE_HAVE_SYSTEMD
#include <systemd/sd-journal.h>
#endif

namespace {

constexpr mode_t kFileMode = 0600;
constexpr std::string_view kSyslogIdentifier = "SYSLOG_IDENTIFIER=OrvaneSrv";
constexpr std::string_view kNoticePriority = "PRIORITY=5";
constexpr std::string_view kSummaryEvent = "refusals-summary";

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// One write() call; false when it failed or was cut short (a full disk).
bool WriteOnce(int fd, std::string_view text) {
    ssize_t r;
    do {
        r = ::write(fd, text.data(), text.size());
    } while (r < 0 && errno == EINTR);
    return r == static_cast<ssize_t>(text.size());
}

std::string JournalName(std::string_view key) {
    std::string name = "ORVANE_";
    for (const char c : key) {
        name += std::isalnum(static_cast<unsigned char>(c)) != 0
                    ? static_cast<char>(std::toupper(static_cast<unsigned char>(c)))
                    : '_';
    }
    return name;
}

void SendToJournal([[maybe_unused]] const std::vector<std::string>& fields) {
#ifdef ORVANE_HAVE_SYSTEMD
    std::vector<iovec> vectors;
    vectors.reserve(fields.size());
    for (const std::string& field : fields) {
        vectors.push_back({const_cast<char*>(field.data()), field.size()});
    }
    sd_journal_sendv(vectors.data(), static_cast<int>(vectors.size()));
#endif
}

} // namespace

CAuditTrail::CAuditTrail(COptions options) : m_options(std::move(options)) {
    if (!m_options.file.empty()) {
        OpenFile();
        // The writer takes no signal: the program's stop signals go to the threads that wait
        // for them, and a writer born with them unblocked would end the process instead.
        sigset_t all;
        sigset_t saved;
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, &saved);
        m_writer = std::thread([this] { WriterLoop(); });
        ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    }
}

CAuditTrail::~CAuditTrail() {
    FlushSummaries(true);
    if (m_writer.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_bStop = true;
        }
        m_wake.notify_one();
        m_writer.join();
    }
}

std::filesystem::path CAuditTrail::DefaultFilePath() {
    const std::filesystem::path folder = ProgramStateFolder();
    return folder.empty() ? folder : folder / "audit.log";
}

bool CAuditTrail::UnderServiceManager() {
    return IsSet("JOURNAL_STREAM") || IsSet("NOTIFY_SOCKET") || IsSet("INVOCATION_ID");
}

std::vector<std::string> CAuditTrail::JournalFields(const CAuditRecord& record,
                                                    std::string_view line) {
    std::string message(line);
    while (!message.empty() && message.back() == '\n') {
        message.pop_back();
    }
    std::vector<std::string> fields{
        "MESSAGE=" + message, std::string(kNoticePriority), std::string(kSyslogIdentifier),
        "ORVANE_EVENT=" + record.Event(), "ORVANE_SOURCE=" + record.Source()};
    for (const auto& [key, value] : record.Fields()) {
        // A list of arrays is one field per array, as the journal repeats a field.
        if (key == "macs" || key == "ips") {
            const std::string name = key == "macs" ? "ORVANE_MAC=" : "ORVANE_IP=";
            std::size_t start = 0;
            while (start <= value.size()) {
                const std::size_t end = std::min(value.find(',', start), value.size());
                fields.push_back(name + value.substr(start, end - start));
                start = end + 1;
            }
            continue;
        }
        fields.push_back(JournalName(key) + "=" + value);
    }
    return fields;
}

CAuditTrail::Clock::time_point CAuditTrail::Now() const {
    return m_options.clock ? m_options.clock() : Clock::now();
}

void CAuditTrail::OpenFile() {
    // Records name users, arrays and addresses: the folder and the file are the operator's alone.
    MakePrivateFolderFor(m_options.file);
    m_fileFd.Reset(::open(m_options.file.c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kFileMode));
    struct stat st {};
    if (!m_fileFd || ::fchmod(m_fileFd.Get(), kFileMode) != 0 ||
        ::fstat(m_fileFd.Get(), &st) != 0) {
        m_strOpenError = std::strerror(errno);
        m_fileFd.Reset();
        return;
    }
    m_strOpenError.clear();
    m_nFileBytes = static_cast<uint64_t>(st.st_size);
}

std::filesystem::path CAuditTrail::OldFile(int n) const {
    return m_options.file.string() + "." + std::to_string(n);
}

void CAuditTrail::RotateFile() {
    m_fileFd.Reset();
    // Renaming onto the oldest kept name drops the file that was there.
    for (int n = m_options.nKeptFiles - 1; n >= 1; --n) {
        ::rename(OldFile(n).c_str(), OldFile(n + 1).c_str());
    }
    if (m_options.nKeptFiles > 0) {
        ::rename(m_options.file.c_str(), OldFile(1).c_str());
    } else {
        ::unlink(m_options.file.c_str());
    }
    OpenFile();
}

void CAuditTrail::Failed(const std::string& why, uint64_t nRecords) {
    m_nFailed += nRecords;
    if (m_bFailureReported) {
        return;
    }
    m_bFailureReported = true;
    if (m_options.nErrorFd >= 0) {
        WriteOnce(m_options.nErrorFd, "OrvaneSrv: cannot write the audit trail " +
                                          m_options.file.string() + ": " + why +
                                          "; serving goes on, unwritten records are counted\n");
    }
}

void CAuditTrail::WriteLocked(const CAuditRecord& record, Clock::time_point now) {
    // Not the thread's line buffer: a summary goes out while Write holds a line in it.
    Enqueue(record, record.JsonLine(now));
}

std::string& CAuditTrail::LineBuffer() {
    // Each thread composes its records in a room of its own, kept from record to record.
    thread_local std::string line;
    line.clear();
    return line;
}

void CAuditTrail::Enqueue(const CAuditRecord& record, std::string_view line) {
    if (m_options.bJournal) {
        SendToJournal(JournalFields(record, line));
    }
    EnqueueToFile(line);
}

void CAuditTrail::EnqueueToFile(std::string_view line) {
    if (!m_options.file.empty()) {
        m_strPending += line;
    }
}

void CAuditTrail::Drain(std::unique_lock<std::mutex>& lock) {
    // Records go out in batches from the writer thread: a write() per record would cost the
    // service a tenth of its rate on a journaling file system. A full batch goes at once.
    if (m_strPending.size() >= kBatchBytes) {
        m_wake.notify_one();
    }
    // A disk slower than the records: their callers wait rather than memory growing without
    // bound or records being lost.
    if (m_writer.joinable() && m_strPending.size() >= kMaxPendingBytes) {
        m_written.wait(lock, [&] { return m_strPending.size() < kMaxPendingBytes; });
    }
}

void CAuditTrail::Sync() {
    std::unique_lock lock(m_mutex);
    if (!m_writer.joinable()) {
        return;
    }
    const uint64_t target = ++m_nSyncWanted;
    m_wake.notify_one();
    m_written.wait(lock, [&] { return m_nSynced >= target; });
}

void CAuditTrail::WriterLoop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait_for(lock, kBatchInterval, [&] {
            return m_bStop || m_strPending.size() >= kBatchBytes || m_nSyncWanted > m_nSynced;
        });
        const uint64_t synced = m_nSyncWanted;
        // The two buffers trade places: each keeps its room, and records go on gathering in
        // one while the other is written.
        m_strWriting.clear();
        m_strWriting.swap(m_strPending);
        const bool bStop = m_bStop;
        m_written.notify_all(); // room again for callers held back by a full queue
        if (!m_strWriting.empty()) {
            lock.unlock();
            WriteBatch(m_strWriting);
            if (m_strWriting.capacity() > kKeptBufferBytes) {
                m_strWriting = std::string(); // a burst's room is given back
            }
            lock.lock();
        }
        m_nSynced = std::max(m_nSynced, synced);
        m_written.notify_all();
        if (bStop && m_strPending.empty()) {
            return;
        }
    }
}

void CAuditTrail::WriteBatch(std::string_view batch) {
    while (!batch.empty()) {
        if (!m_fileFd) {
            // The folder may have come back (a disk remounted): tried once per write.
            OpenFile();
        }
        std::string_view part = batch;
        if (m_fileFd && m_nFileBytes + part.size() > m_options.nMaxFileBytes) {
            // The whole records that still fit go before the rotation; a record larger than
            // the limit goes alone into a file of its own.
            const std::size_t room =
                m_options.nMaxFileBytes > m_nFileBytes ? m_options.nMaxFileBytes - m_nFileBytes : 0;
            std::size_t end = part.substr(0, room).rfind('\n');
            if (end == std::string_view::npos) {
                if (m_nFileBytes > 0) {
                    RotateFile();
                    continue;
                }
                end = part.find('\n');
            }
            part = part.substr(0, end == std::string_view::npos ? part.size() : end + 1);
        }
        batch.remove_prefix(part.size());
        // Counted only when they are lost: a written batch is not read again.
        const auto records = [part] {
            return static_cast<uint64_t>(std::count(part.begin(), part.end(), '\n'));
        };
        if (!m_fileFd) {
            Failed(m_strOpenError, records());
            continue;
        }
        errno = 0; // a write cut short sets none
        if (!WriteOnce(m_fileFd.Get(), part)) {
            const int error = errno;
            // What was cut short goes again: a torn record would join the next one's line and
            // both would be unreadable.
            if (::ftruncate(m_fileFd.Get(), static_cast<off_t>(m_nFileBytes)) != 0) {
                m_fileFd.Reset(); // reopened, and its size read again, at the next write
            }
            Failed(error != 0 ? std::strerror(error) : "short write", records());
            continue;
        }
        m_nFileBytes += part.size();
        m_bFailureReported = false;
    }
}

void CAuditTrail::WriteSummaryLocked(const std::string& address, const CCount& count,
                                     Clock::time_point now) {
    CAuditRecord summary(kSummaryEvent, "service");
    summary.Add("address", address)
        .AddNumber("count", count.nSuppressed)
        .Add("first", count.firstEvent)
        .Add("since", CAuditRecord::TimeText(count.start));
    WriteLocked(summary, now);
}

void CAuditTrail::FlushLocked(Clock::time_point now, bool bAll) {
    while (!m_countOrder.empty() &&
           (bAll || now - m_countOrder.front().first >= m_options.summaryWindow)) {
        const auto [start, address] = std::move(m_countOrder.front());
        m_countOrder.pop_front();
        const auto it = m_counts.find(address);
        // A later minute of the same address has its own place further on.
        if (it == m_counts.end() || it->second.start != start) {
            continue;
        }
        if (it->second.nSuppressed > 0) {
            WriteSummaryLocked(address, it->second, now);
        }
        m_counts.erase(it);
    }
}

void CAuditTrail::FlushSummaries(bool bAll) {
    {
        std::unique_lock lock(m_mutex);
        FlushLocked(Now(), bAll);
    }
    if (bAll) {
        Sync();
    }
}

void CAuditTrail::Write(const CAuditRecord& record) {
    const Clock::time_point now = Now();
    // Composed before the lock: threads that answer queries at once do not wait for each other.
    std::string& line = LineBuffer();
    record.AppendJsonLine(line, now);
    if (m_options.bJournal) {
        // A message to the journal per record: sent before the lock, so that the threads
        // answering queries do not queue behind each other's sends.
        SendToJournal(JournalFields(record, line));
    }
    std::unique_lock lock(m_mutex);
    FlushLocked(now, false);
    EnqueueToFile(line);
    Drain(lock);
}

void CAuditTrail::WriteRefusal(const CAuditRecord& record, std::string_view address) {
    std::unique_lock lock(m_mutex);
    const Clock::time_point now = Now();
    FlushLocked(now, false);
    const std::string key(address);
    if (const auto it = m_counts.find(key); it != m_counts.end()) {
        ++it->second.nSuppressed;
        Drain(lock);
        return;
    }
    if (m_counts.size() >= kMaxCountedAddresses) {
        // Too many addresses at once: the oldest minute is summed up early.
        const auto [start, oldest] = m_countOrder.front();
        m_countOrder.pop_front();
        if (const auto it = m_counts.find(oldest); it != m_counts.end()) {
            if (it->second.nSuppressed > 0) {
                WriteSummaryLocked(oldest, it->second, now);
            }
            m_counts.erase(it);
        }
    }
    m_counts.emplace(key, CCount{now, 0, record.Event()});
    m_countOrder.emplace_back(now, key);
    WriteLocked(record, now);
    Drain(lock);
}
