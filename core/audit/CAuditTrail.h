// The audit trail: who received which array's credentials, when and from where, who changed the
// directory, which logins and pushes were refused. One JSON line per record in a file of the
// operator's own (folder mode 0700, file mode 0600, never widened), rotated before it would pass
// its size limit: audit.log -> audit.log.1 -> ... -> audit.log.N, the oldest dropped. Under a
// service manager each record also goes to the journal with ORVANE_... fields (through
// libsystemd when the build has it).
//
// No volume of records may rotate away the trail of the last day, or one busy client would
// erase the logins, pushes and directory changes that came before it:
// - Refusals (of credentials, by the throttle, of pushes) are summarised: the first refusal of
//   an address within a minute is written, the further ones are counted and written as one
//   summary record when the minute has ended.
// - A hand-out of credentials is written whole, with its lists of arrays, when the lists
//   differ from the last ones written for the same user and address (or the file holding those
//   was rotated since); identical hand-outs are counted, one record per minute with the count
//   and the first and last time, and without the lists.
// - The file that rotation would drop is never younger than kDefaultMinKeptAge: when the file
//   is full and the oldest one is that young, the trail writes one "trail-full" record, goes
//   on past its size limit and from then on writes only the first record of each event, user
//   and address within a minute, the further ones counted into one record per minute, until
//   the oldest file may go ("trail-resumed").
// Counted records are written when their minute has ended (the writer looks every batch
// interval) and when the trail stops.
//
// Records reach the file from a thread of the trail's own, in batches (at most kBatchInterval
// after they were given); Sync waits for them. A record that cannot be written is counted, and
// reported once on the error stream until a write succeeds again; the caller goes on.
// Thread-safe.
#pragma once

#include "core/audit/CAuditRecord.h"
#include "platform/io/CUniqueFd.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

class CAuditTrail {
public:
    using Clock = CAuditRecord::Clock;
    static constexpr uint64_t kDefaultMaxFileBytes = uint64_t{100} << 20;
    static constexpr int kDefaultKeptFiles = 10;
    static constexpr std::chrono::seconds kDefaultSummaryWindow{60};
    static constexpr std::chrono::hours kDefaultMinKeptAge{24};
    // Keys (addresses, or event, user and address) being counted at once; beyond it the oldest
    // is summed up early.
    static constexpr std::size_t kMaxCountedAddresses = 4096;
    // Users and addresses whose last lists are remembered; beyond it all are forgotten, and
    // each one's next hand-out writes its lists again.
    static constexpr std::size_t kMaxHandOutPairs = 16384;
    // Records are written by a thread of the trail's own, at least this often, and at once when
    // this many bytes are waiting.
    static constexpr std::chrono::milliseconds kBatchInterval{20};
    static constexpr std::size_t kBatchBytes = 64 * 1024;
    // Beyond this many bytes waiting, the threads that give records wait for the writer.
    static constexpr std::size_t kMaxPendingBytes = 16 * 1024 * 1024;
    // The writer's buffers keep up to this much room from batch to batch.
    static constexpr std::size_t kKeptBufferBytes = 4 * kBatchBytes;

    struct COptions {
        std::filesystem::path file; // empty: no file (the journal only, when there is one)
        uint64_t nMaxFileBytes = kDefaultMaxFileBytes;
        int nKeptFiles = kDefaultKeptFiles;
        int nErrorFd = 2; // where an unwritable record is reported; -1: nowhere
        bool bJournal = false;
        Clock::duration summaryWindow = kDefaultSummaryWindow;
        // A full file is not rotated while the file it would drop was written to this recently.
        Clock::duration minKeptAge = kDefaultMinKeptAge;
        // Empty: the system clock. Called from the writer thread too.
        std::function<Clock::time_point()> clock{};
    };

    // Credentials handed out to a user at an address: the lists as the answer carried them
    // (comma-separated, empty for none), and the generation of the tables they were read from,
    // which tells a repeat without looking at the lists. A new generation is compared by the
    // lists' hash: any push, even a refused one, starts a generation, and the lists mostly stay
    // as they were.
    struct CHandOut {
        std::string_view address;
        std::string_view user;
        bool bAdmin = false;
        std::string_view macs;
        std::string_view ips;
        uint64_t generation = 0;
        // A user of the site's directory: its DN (and the record's source is "ldap").
        std::string_view dn{};
    };

    explicit CAuditTrail(COptions options);
    // A file with the default limits, reports on standard error, no journal.
    explicit CAuditTrail(std::filesystem::path file) : CAuditTrail(WithFile(std::move(file))) {}
    // Writes the summaries still counting.
    ~CAuditTrail();
    CAuditTrail(const CAuditTrail&) = delete;
    CAuditTrail& operator=(const CAuditTrail&) = delete;

    void Write(const CAuditRecord& record);
    // A refusal of a request from address: written, or counted into the address's summary.
    void WriteRefusal(const CAuditRecord& record, std::string_view address);
    // A "query" record, written whole or counted as a repeat (see above).
    void WriteHandOut(const CHandOut& handOut);
    // Writes the summaries whose minute has ended (all of them, and everything pending, with
    // bAll).
    void FlushSummaries(bool bAll = false);
    // Returns once every record given so far has been written (or counted as unwritten).
    void Sync();

    // Records that could not be written to the file since the start.
    uint64_t FailedRecords() const { return m_nFailed.load(); }
    // While full: when it began, and the earliest time the oldest file may go.
    struct CFull {
        Clock::time_point since;
        Clock::time_point until;
    };
    std::optional<CFull> Full() const;
    // True once for each time the trail became full, for the caller's own log.
    bool TakeFullNotice();
    const std::filesystem::path& File() const { return m_options.file; }

    // $XDG_STATE_HOME/OrvaneSrv/audit.log (an absolute XDG_STATE_HOME only), else
    // ~/.local/state/OrvaneSrv/audit.log; empty without a home directory.
    static std::filesystem::path DefaultFilePath();
    // Whether the process runs under a service manager that keeps a journal.
    static bool UnderServiceManager();
    // The record's journal fields: MESSAGE=, PRIORITY=, SYSLOG_IDENTIFIER=, ORVANE_EVENT=,
    // ORVANE_SOURCE= and ORVANE_<KEY>= per field (a list of MACs as one ORVANE_MAC= each).
    static std::vector<std::string> JournalFields(const CAuditRecord& record,
                                                  std::string_view line);

private:
    static COptions WithFile(std::filesystem::path file) {
        COptions options;
        options.file = std::move(file);
        return options;
    }

    struct CCount {
        Clock::time_point start;
        Clock::time_point last;
        uint64_t nSuppressed = 0;
        std::string firstEvent;
        // While full: the record the count is written in (a refusals-summary without it).
        std::optional<CAuditRecord> head;
    };
    // The last lists written for a user at an address, and the repeats counted since.
    struct CHandOutState {
        uint64_t generation = 0;
        std::size_t nListHash = 0;
        uint64_t nRotation = 0; // of the file the lists were written to
        bool bAdmin = false;
        uint64_t nCounted = 0;
        Clock::time_point first;
        Clock::time_point last;
    };

    Clock::time_point Now() const;
    bool IsFull(Clock::time_point now) const;
    void WriteWhenFull(const CAuditRecord& record, std::string_view line, Clock::time_point now);
    void WriteHandOutCountLocked(const std::string& key, CHandOutState& state,
                                 Clock::time_point now);
    void FlushOneLocked(Clock::time_point start, const std::string& key, Clock::time_point now);
    void MakeRoomForCountLocked(Clock::time_point now);
    void WriteLocked(const CAuditRecord& record, Clock::time_point now);
    void Enqueue(const CAuditRecord& record, std::string_view line);
    void EnqueueToFile(std::string_view line);
    static std::string& LineBuffer();
    // Wakes the writer when a batch is full; waits while too much is pending.
    void Drain(std::unique_lock<std::mutex>& lock);
    void WriterLoop();
    void WriteBatch(std::string_view batch);
    void WriteSummaryLocked(const std::string& address, const CCount& count, Clock::time_point now);
    void FlushLocked(Clock::time_point now, bool bAll);
    void OpenFile();
    void RotateFile();
    // Whether the file that rotation drops is old enough (or absent); else becomes full.
    bool MayRotate();
    void BecomeFull(Clock::time_point until);
    void Resume();
    std::filesystem::path OldFile(int n) const;
    void Failed(const std::string& why, uint64_t nRecords);

    const COptions m_options;
    std::mutex m_mutex;
    std::string m_strPending; // records waiting for the writer
    std::condition_variable m_wake;
    std::condition_variable m_written;
    uint64_t m_nSyncWanted = 0;
    uint64_t m_nSynced = 0;
    bool m_bStop = false;
    std::thread m_writer;
    // Touched only by the writer, or before it starts.
    std::string m_strWriting; // the batch being written
    CUniqueFd m_fileFd;
    std::string m_strOpenError;
    uint64_t m_nFileBytes = 0;
    bool m_bFailureReported = false;
    std::atomic<uint64_t> m_nFailed{0};
    std::unordered_map<std::string, CCount> m_counts;
    // Keys in the order their minutes began (a key again when it began a new one), those of
    // m_counts and, tagged, those of m_handOuts.
    std::deque<std::pair<Clock::time_point, std::string>> m_countOrder;
    // By address, a NUL and user name.
    std::unordered_map<std::string, CHandOutState> m_handOuts;
    std::atomic<uint64_t> m_nRotations{0};
    // While full (in system clock ticks, zero when not): read by the threads that give
    // records, set by the writer.
    std::atomic<Clock::rep> m_fullSince{0};
    std::atomic<Clock::rep> m_fullUntil{0};
    std::atomic<uint64_t> m_nFullTimes{0};
    std::atomic<uint64_t> m_nFullNoticed{0};
};
