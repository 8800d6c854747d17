// The audit trail's file, rotation, journal and refusal summaries; see CAuditTrail.h.
#include "core/audit/CAuditTrail.h"

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
constexpr std::string_view kHandOutEvent = "query";
// Tags that set keys apart in the order of counted minutes: no address starts with them.
constexpr char kFullTag = '\x01';
constexpr char kHandOutTag = '\x02';

CAuditTrail::Clock::time_point ModifiedAt(const struct stat& st) {
    return CAuditTrail::Clock::from_time_t(st.st_mtim.tv_sec) +
           std::chrono::duration_cast<CAuditTrail::Clock::duration>(
               std::chrono::nanoseconds(st.st_mtim.tv_nsec));
}

// Equal lists hash alike: a new generation of the tables mostly leaves a user's lists as they
// were.
std::size_t ListHash(const CAuditTrail::CHandOut& handOut) {
    constexpr std::size_t kMix = 0x9E3779B97F4A7C15;
    const std::hash<std::string_view> hash;
    return (hash(handOut.macs) * kMix ^ hash(handOut.ips)) * kMix + (handOut.bAdmin ? 1 : 0);
}

// The record's user and address, empty where it has none.
std::pair<std::string, std::string> UserAndAddress(const CAuditRecord& record) {
    std::pair<std::string, std::string> found;
    for (auto& [name, value] : record.Fields()) {
        if (name == "user") {
            found.first = std::move(value);
        } else if (name == "address") {
            found.second = std::move(value);
        }
    }
    return found;
}

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

std::optional<CAuditTrail::CFull> CAuditTrail::Full() const {
    const Clock::rep since = m_fullSince.load();
    if (since == 0) {
        return std::nullopt;
    }
    return CFull{Clock::time_point(Clock::duration(since)),
                 Clock::time_point(Clock::duration(m_fullUntil.load()))};
}

bool CAuditTrail::TakeFullNotice() {
    uint64_t noticed = m_nFullNoticed.load();
    const uint64_t times = m_nFullTimes.load();
    return noticed != times && m_nFullNoticed.compare_exchange_strong(noticed, times);
}

bool CAuditTrail::IsFull(Clock::time_point now) const {
    const Clock::rep until = m_fullUntil.load(std::memory_order_relaxed);
    return until != 0 && now.time_since_epoch().count() < until;
}

bool CAuditTrail::MayRotate() {
    const std::filesystem::path dropped =
        m_options.nKeptFiles > 0 ? OldFile(m_options.nKeptFiles) : m_options.file;
    struct stat st {};
    if (::stat(dropped.c_str(), &st) != 0) {
        return true; // nothing to lose
    }
    // Its last record is as old as its last change: the whole file is at least that old.
    const Clock::time_point until = ModifiedAt(st) + m_options.minKeptAge;
    if (Now() >= until) {
        return true;
    }
    BecomeFull(until);
    return false;
}

void CAuditTrail::BecomeFull(Clock::time_point until) {
    std::lock_guard lock(m_mutex);
    m_fullUntil = until.time_since_epoch().count();
    if (m_fullSince != 0) {
        return;
    }
    const Clock::time_point now = Now();
    m_fullSince = now.time_since_epoch().count();
    ++m_nFullTimes;
    WriteLocked(CAuditRecord("trail-full", "service")
                    .Add("file", m_options.file.string())
                    .AddNumber("bytes", m_options.nMaxFileBytes)
                    .Add("until", CAuditRecord::TimeText(until)),
                now);
}

void CAuditTrail::Resume() {
    std::lock_guard lock(m_mutex);
    const Clock::time_point since{Clock::duration(m_fullSince.load())};
    m_fullSince = 0;
    m_fullUntil = 0;
    WriteLocked(
        CAuditRecord("trail-resumed", "service").Add("since", CAuditRecord::TimeText(since)),
        Now());
}

std::filesystem::path CAuditTrail::OldFile(int n) const {
    return m_options.file.string() + "." + std::to_string(n);
}

void CAuditTrail::RotateFile() {
    m_fileFd.Reset();
    ++m_nRotations;
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
    if (m_fullSince != 0) {
        Resume(); // there is room again: every record is written again
    }
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
        if (m_fullSince != 0) {
            // Space may have come back by age, or because the operator moved old files away.
            lock.unlock();
            if (MayRotate()) {
                RotateFile();
            }
            lock.lock();
        }
        // Counted records are written when their minute ends, whether or not others follow.
        FlushLocked(Now(), false);
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
            // the limit goes alone into a file of its own. A full trail drops nothing: the
            // records go on past the limit, few from now on.
            const std::size_t room =
                m_options.nMaxFileBytes > m_nFileBytes ? m_options.nMaxFileBytes - m_nFileBytes : 0;
            std::size_t end = part.substr(0, room).rfind('\n');
            if (end == std::string_view::npos && m_nFileBytes > 0) {
                if (MayRotate()) {
                    RotateFile();
                    continue;
                }
                end = part.size() - 1;
            } else if (end == std::string_view::npos) {
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
    if (count.head) {
        CAuditRecord summary = *count.head;
        summary.AddNumber("count", count.nSuppressed)
            .Add("first", CAuditRecord::TimeText(count.start))
            .Add("last", CAuditRecord::TimeText(count.last));
        WriteLocked(summary, now);
        return;
    }
    CAuditRecord summary(kSummaryEvent, "service");
    summary.Add("address", address)
        .AddNumber("count", count.nSuppressed)
        .Add("first", count.firstEvent)
        .Add("since", CAuditRecord::TimeText(count.start));
    WriteLocked(summary, now);
}

void CAuditTrail::WriteHandOutCountLocked(const std::string& key, CHandOutState& state,
                                          Clock::time_point now) {
    const std::size_t split = key.find('\0');
    WriteLocked(CAuditRecord(kHandOutEvent, "service")
                    .Add("address", std::string_view(key).substr(0, split))
                    .Add("user", std::string_view(key).substr(split + 1))
                    .AddBool("admin", state.bAdmin)
                    .AddNumber("count", state.nCounted)
                    .Add("first", CAuditRecord::TimeText(state.first))
                    .Add("last", CAuditRecord::TimeText(state.last)),
                now);
    state.nCounted = 0;
}

void CAuditTrail::FlushOneLocked(Clock::time_point start, const std::string& key,
                                 Clock::time_point now) {
    // A later minute of the same key has its own place further on.
    if (key.starts_with(kHandOutTag)) {
        const auto it = m_handOuts.find(key.substr(1));
        if (it != m_handOuts.end() && it->second.nCounted > 0 && it->second.first == start) {
            WriteHandOutCountLocked(it->first, it->second, now);
        }
        return;
    }
    const auto it = m_counts.find(key);
    if (it == m_counts.end() || it->second.start != start) {
        return;
    }
    if (it->second.nSuppressed > 0) {
        WriteSummaryLocked(key, it->second, now);
    }
    m_counts.erase(it);
}

void CAuditTrail::FlushLocked(Clock::time_point now, bool bAll) {
    while (!m_countOrder.empty() &&
           (bAll || now - m_countOrder.front().first >= m_options.summaryWindow)) {
        const auto [start, key] = std::move(m_countOrder.front());
        m_countOrder.pop_front();
        FlushOneLocked(start, key, now);
    }
}

void CAuditTrail::MakeRoomForCountLocked(Clock::time_point now) {
    // Too many keys at once: the oldest minutes are summed up early.
    while (m_counts.size() >= kMaxCountedAddresses && !m_countOrder.empty()) {
        const auto [start, key] = std::move(m_countOrder.front());
        m_countOrder.pop_front();
        FlushOneLocked(start, key, now);
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
    if (IsFull(now)) {
        WriteWhenFull(record, line, now);
        return;
    }
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
        it->second.last = now;
        Drain(lock);
        return;
    }
    MakeRoomForCountLocked(now);
    m_counts.emplace(key, CCount{now, now, 0, record.Event(), std::nullopt});
    m_countOrder.emplace_back(now, key);
    WriteLocked(record, now);
    Drain(lock);
}

void CAuditTrail::WriteWhenFull(const CAuditRecord& record, std::string_view line,
                                Clock::time_point now) {
    // Read from the record only while full: the usual path costs no parsing.
    const auto [user, address] = UserAndAddress(record);
    std::string key(1, kFullTag);
    key.append(record.Event()).append(1, '\0').append(user).append(1, '\0').append(address);
    std::unique_lock lock(m_mutex);
    FlushLocked(now, false);
    if (const auto it = m_counts.find(key); it != m_counts.end()) {
        ++it->second.nSuppressed;
        it->second.last = now;
        return;
    }
    MakeRoomForCountLocked(now);
    CAuditRecord head(record.Event(), record.Source());
    if (!user.empty()) {
        head.Add("user", user);
    }
    if (!address.empty()) {
        head.Add("address", address);
    }
    m_counts.emplace(key, CCount{now, now, 0, {}, std::move(head)});
    m_countOrder.emplace_back(now, key);
    Enqueue(record, line);
    Drain(lock);
}

void CAuditTrail::WriteHandOut(const CHandOut& handOut) {
    const Clock::time_point now = Now();
    // Looked up without an allocation: repeats are the common case and cost one lookup.
    thread_local std::string key;
    key.assign(handOut.address).append(1, '\0').append(handOut.user);
    std::unique_lock lock(m_mutex);
    FlushLocked(now, false);
    const uint64_t rotation = m_nRotations.load();
    auto it = m_handOuts.find(key);
    std::optional<std::size_t> hash;
    if (it != m_handOuts.end() && it->second.nRotation == rotation) {
        CHandOutState& state = it->second;
        if (state.generation != handOut.generation &&
            (hash = ListHash(handOut)) == state.nListHash) {
            state.generation = handOut.generation;
        }
        if (state.generation == handOut.generation) {
            if (state.nCounted++ == 0) {
                state.first = now;
                m_countOrder.emplace_back(now, kHandOutTag + key);
            }
            state.last = now;
            return;
        }
    }
    // New lists (or their file rotated away): the repeats of the last ones are written first,
    // so that a reader finds the lists of a count in the last whole record before it.
    if (it == m_handOuts.end()) {
        if (m_handOuts.size() >= kMaxHandOutPairs) {
            for (auto& [pair, state] : m_handOuts) {
                if (state.nCounted > 0) {
                    WriteHandOutCountLocked(pair, state, now);
                }
            }
            m_handOuts.clear();
        }
        it = m_handOuts.emplace(key, CHandOutState{}).first;
    } else if (it->second.nCounted > 0) {
        WriteHandOutCountLocked(it->first, it->second, now);
    }
    it->second = CHandOutState{.generation = handOut.generation,
                               .nListHash = hash ? *hash : ListHash(handOut),
                               .nRotation = rotation,
                               .bAdmin = handOut.bAdmin,
                               .nCounted = 0,
                               .first = {},
                               .last = {}};
    CAuditRecord record(kHandOutEvent, handOut.dn.empty() ? "service" : "ldap");
    record.Add("address", handOut.address).Add("user", handOut.user);
    if (!handOut.dn.empty()) {
        record.Add("dn", handOut.dn);
    }
    record.AddBool("admin", handOut.bAdmin)
        .Add("macs", handOut.macs.empty() ? "none" : handOut.macs)
        .Add("ips", handOut.ips.empty() ? "none" : handOut.ips);
    WriteLocked(record, now);
    Drain(lock);
}
