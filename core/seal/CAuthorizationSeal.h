// Remembering the arrays' authorizations across restarts: every authorization the tables hold
// (and every remembered one still being verified) is kept in one sealed file beside the store,
// written at most once a second while they change and once more at stop. The key comes from a
// key file given at start, or from a passphrase that orvanectl or the window hands over; it
// stays in locked memory and is never written anywhere.
//
// A remembered authorization is not handed out on its word: once its array is sighted at the
// remembered address, a login with the remembered credentials runs on the process's login pool,
// and only its success authorizes the record, as an operator's login would. A login that fails,
// or an array that comes back elsewhere, drops the authorization.
//
// A file that does not open (tampered, truncated, another key, a newer format) is never
// overwritten: nothing is written until it is opened or the operator forgets it (TurnOff).
#pragma once

#include "core/seal/CSealedAuthorization.h"
#include "core/seal/CSealedFile.h"
#include "core/seal/CSealedFileStore.h"
#include "platform/crypto/CSecretBytes.h"
#include "storage/CLoginClient.h"
#include "storage/CLoginOutcome.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

class COrvaneSrvCore;
struct CSealLink;

// Where the key comes from, as orvanectl status says it.
enum class ESealMode { Off, KeyFile, Passphrase };

enum class ESealState {
    Off,     // nothing is remembered, nothing written
    Waiting, // a sealed file waits for its passphrase (or key file)
    Refused, // the sealed file does not open; it is kept as it is
    Open,    // remembering: changes are sealed as they happen
};

struct CSealStatus {
    ESealMode eMode = ESealMode::Off;
    ESealState eState = ESealState::Off;
    std::filesystem::path file;
    // What the file held when it was opened, and where those authorizations stand now.
    std::size_t nRemembered = 0;
    std::size_t nWaiting = 0; // for a sighting at the remembered address
    std::size_t nVerifying = 0;
    std::size_t nVerified = 0;
    std::map<std::string, std::size_t> dropped; // by reason
    // The file waits for a passphrase (not for a key file).
    bool bAsksPassphrase = false;
    // Why the file is waiting or refused; the last write's failure while it lasts.
    std::string strProblem;
    std::string strWriteError;
    std::size_t Dropped() const;
};

// What a seal, unseal or off request did, in the operator's words.
struct CSealAnswer {
    bool bDone = false;
    std::string strText;
};

class CAuthorizationSeal {
public:
    static constexpr std::string_view kFileName = "authorizations.sealed";
    // Changes are sealed at most this often.
    static constexpr std::chrono::milliseconds kWriteInterval{1000};
    // Wrong passphrases: after this many within the window, attempts are refused unchecked until
    // a whole window has passed since the last one (as "/Query" treats a guessing address).
    static constexpr int kMaxUnsealFailures = 10;
    static constexpr std::chrono::seconds kUnsealWindow{60};

    explicit CAuthorizationSeal(COrvaneSrvCore& core);
    ~CAuthorizationSeal();
    CAuthorizationSeal(const CAuthorizationSeal&) = delete;
    CAuthorizationSeal& operator=(const CAuthorizationSeal&) = delete;

    // Where the lines for the operator's log go (none: nowhere). Set before Start.
    void SetLog(std::function<void(std::string_view)> log) { m_log = std::move(log); }
    // The arrays' port and timeouts for the logins that verify remembered authorizations.
    void SetLoginOptions(CLoginOptions options) { m_loginOptions = options; }
    // The file calls of the sealed file's store (a test holds or fails them). Set before Start.
    void SetFileOps(std::shared_ptr<IFileOps> ops) { m_pFileOps = std::move(ops); }

    // Start-up, once the directory is loaded: opens the file with the key when one is given (it
    // is then the key of every write); without one, a file found waits for its passphrase.
    void Start(std::filesystem::path file, CSecretBytes key);
    // Shutdown, while the tables are still alive: the last write, then the key is wiped.
    void Stop();

    // orvanectl unseal, the window's question at start: opens a file that waits.
    CSealAnswer Unseal(std::string_view passphrase);
    // orvanectl seal: remembering on under this passphrase, sealing what is authorized now.
    CSealAnswer SealWith(std::string_view passphrase);
    // orvanectl seal --off: forgets every remembered authorization and removes the file.
    CSealAnswer TurnOff();

    CSealStatus Status() const;
    // Whether remembered authorizations still wait for their sighting or login.
    bool IsVerifying() const { return *m_pPending > 0; }
    // How many do, for holders that may outlive this object (the service's threads).
    std::shared_ptr<const std::atomic<std::size_t>> PendingCount() const { return m_pPending; }
    // How many authorizations a stop now would keep (bRemembered) or lose.
    struct CAtExit {
        bool bRemembered = false;
        std::size_t nAuthorizations = 0;
    };
    CAtExit AtExit() const;

    // Runs one round of the worker's duties at once: sightings, then a write when due (tests).
    void RunOnce();

private:
    enum class EStanding { Waiting, Verifying, Verified, Dropped };
    struct CRemembered {
        CSealedAuthorization auth;
        EStanding eStanding = EStanding::Waiting;
        int nUnanswered = 0;
    };
    using Clock = std::chrono::steady_clock;

    void Run();
    void OpenWith(const std::string& bytes, ESealMode mode);
    void Refuse(std::string why);
    void Remember(std::vector<CSealedAuthorization> records);
    void CheckSightings();
    void OnVerified(const CLoginOutcome& outcome);
    void Drop(CRemembered& entry, const std::string& reason);
    // Seals the tables' authorizations when they changed and the interval has passed (always
    // when forced); answers the write's failure, empty when written or not due.
    std::string WriteIfDue(bool bForce);
    std::vector<CSealedAuthorization> Snapshot();
    std::map<std::u16string, CSealedAuthorization> Dated(std::vector<CSealedAuthorization> list);
    void Log(const std::string& line) const;
    bool UnsealThrottled();
    void WipeRemembered();

    COrvaneSrvCore& m_core;
    std::shared_ptr<CSealLink> m_pLink;
    std::function<void(std::string_view)> m_log;
    CLoginOptions m_loginOptions;
    std::shared_ptr<IFileOps> m_pFileOps = RealFileOps();
    std::mutex m_clientMutex; // over m_pClient
    std::unique_ptr<CLoginClient> m_pClient;
    std::mutex m_writeMutex; // one write at a time, taken before m_mutex
    std::function<void(const CLoginOutcome&)> m_audit;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_bStop = false;
    bool m_bDirty = false;
    std::thread m_thread;

    std::optional<CSealedFileStore> m_store;
    CSecretBytes m_key;
    CSealHeader m_header;
    ESealMode m_eMode = ESealMode::Off;
    ESealState m_eState = ESealState::Off;
    std::string m_strProblem;
    std::string m_strWriteError;
    std::unordered_map<std::u16string, CRemembered> m_remembered;
    std::size_t m_nRemembered = 0;
    std::map<std::string, std::size_t> m_dropped;
    std::shared_ptr<std::atomic<std::size_t>> m_pPending =
        std::make_shared<std::atomic<std::size_t>>(0);
    // What the file holds now, by MAC, and the generation of the tables it was taken at.
    std::map<std::u16string, CSealedAuthorization> m_written;
    uint64_t m_nWrittenGeneration = UINT64_MAX;
    Clock::time_point m_lastWrite{};
    std::deque<Clock::time_point> m_unsealFailures;
    ESealKeySource m_eFileSource = ESealKeySource::KeyFile; // of the file found at start
};
