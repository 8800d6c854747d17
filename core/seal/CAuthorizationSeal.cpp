// Remembered authorizations: the file's states, the worker that seals changes and verifies what
// was remembered, and the operator's requests (seal, unseal, off).
#include "core/seal/CAuthorizationSeal.h"

#include "core/COrvaneSrvCore.h"
#include "core/audit/LoginAudit.h"
#include "platform/crypto/SealCrypto.h"
#include "platform/text/TextConv.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <shared_mutex>

namespace {

// The worker looks for sightings this often; writes stay at most one per kWriteInterval.
constexpr std::chrono::milliseconds kTick{250};
// A login that got no answer is tried again this many times before the authorization goes.
constexpr int kMaxUnanswered = 3;
constexpr std::size_t kSaltBytes = 16;
// What a file that waits for its passphrase counts as pending: how many it holds is sealed with
// the rest, but "/Query" callers must still learn that remembered arrays are on their way, not
// that their groups reach nothing.
constexpr std::size_t kPendingUntilUnsealed = 1;

std::int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool SameCredentials(const CSealedAuthorization& a, const CSealedAuthorization& b) {
    return a.strAuthorizedIP == b.strAuthorizedIP && a.strUserName == b.strUserName &&
           a.strPassword == b.strPassword;
}

void Wipe(std::map<std::u16string, CSealedAuthorization>& records) {
    for (auto& [mac, record] : records) {
        record.Wipe();
    }
    records.clear();
}

std::string DropReason(const CLoginOutcome& outcome) {
    switch (outcome.eResult) {
    case ELoginResult::Refused:
        return "the array refused the remembered password";
    case ELoginResult::NotSupported:
        return "the array no longer has the login interface";
    case ELoginResult::HttpStatus:
        return "the array answered HTTP status " + std::to_string(outcome.nCode);
    case ELoginResult::TransportError:
        return "the array did not answer";
    case ELoginResult::Superseded:
        return "the array moved during the login";
    case ELoginResult::Succeeded:
        break;
    }
    return {};
}

CSealHeader KeyFileHeader() {
    CSealHeader header;
    header.eSource = ESealKeySource::KeyFile;
    return header;
}

// What the tables say of one remembered array.
enum class ESighting { NotYet, Ready, AuthorizedAgain };

} // namespace

// The login client's workers may end a login after this object is gone: they reach it through
// this, which the destructor empties. The workers share it, so that the pool's logins end side by
// side rather than one at a time through it.
struct CSealLink {
    std::shared_mutex mutex;
    CAuthorizationSeal* pSeal = nullptr;
};

std::size_t CSealStatus::Dropped() const {
    return std::accumulate(dropped.begin(), dropped.end(), std::size_t{0},
                           [](std::size_t n, const auto& entry) { return n + entry.second; });
}

CAuthorizationSeal::CAuthorizationSeal(COrvaneSrvCore& core)
    : m_core(core), m_pLink(std::make_shared<CSealLink>()) {
    m_pLink->pSeal = this;
}

CAuthorizationSeal::~CAuthorizationSeal() {
    Stop();
    std::unique_lock lock(m_pLink->mutex);
    m_pLink->pSeal = nullptr;
}

void CAuthorizationSeal::Log(const std::string& line) const {
    if (m_log) {
        m_log(line);
    }
}

void CAuthorizationSeal::Start(std::filesystem::path file, CSecretBytes key) {
    m_store.emplace(std::move(file), m_pFileOps);
    m_audit = LoginAuditor(m_core.AuditTrail(), "remembered");
    m_pClient = m_core.MakeServerTableWorker<CLoginClient>(m_core.LoginPool(), m_loginOptions);
    const CSealedFileStore::CLoadResult load = m_store->Load();
    std::unique_lock lock(m_mutex);
    const bool bKey = !key.Empty();
    if (bKey) {
        m_key = std::move(key);
        m_eMode = ESealMode::KeyFile;
        m_header = KeyFileHeader();
    }
    if (load.eError == ESealError::NotFound) {
        m_eState = bKey ? ESealState::Open : ESealState::Off;
    } else if (load.eError != ESealError::None) {
        Refuse(std::string(SealErrorText(load.eError)) +
               (load.strReason.empty() ? "" : " (" + load.strReason + ")"));
    } else {
        const CSealHeaderRead read = ReadSealHeader(load.bytes);
        m_eFileSource = read.header.eSource;
        if (read.eError != ESealError::None) {
            Refuse(std::string(SealErrorText(read.eError)));
        } else if (read.header.eSource == ESealKeySource::Passphrase) {
            m_eState = ESealState::Waiting;
            m_eMode = bKey ? ESealMode::KeyFile : ESealMode::Passphrase;
            m_strProblem = "the sealed file waits for its passphrase; orvanectl unseal opens it";
            *m_pPending = kPendingUntilUnsealed; // the unseal or seal --off sets the real count
        } else if (!bKey) {
            m_eState = ESealState::Waiting;
            m_eMode = ESealMode::KeyFile;
            m_strProblem = "the sealed file was sealed with a key file; start OrvaneSrv with "
                           "--seal-key FILE, or forget it with orvanectl seal --off";
        } else {
            OpenWith(load.bytes, ESealMode::KeyFile);
        }
    }
    if (!m_strProblem.empty()) {
        Log("OrvaneSrv: remembered authorizations: " + m_strProblem);
    }
    lock.unlock();
    m_thread = std::thread([this] { Run(); });
}

void CAuthorizationSeal::Refuse(std::string why) {
    m_eState = ESealState::Refused;
    m_strProblem = std::move(why) + "; it is kept as it is and nothing is sealed until it is "
                                    "opened or forgotten (orvanectl seal --off)";
}

void CAuthorizationSeal::OpenWith(const std::string& bytes, ESealMode mode) {
    CSealOpened opened = OpenSealedFile(bytes, m_key.Bytes());
    if (opened.eError != ESealError::None) {
        Refuse(std::string(SealErrorText(opened.eError)));
        return;
    }
    m_eMode = mode;
    m_eState = ESealState::Open;
    m_strProblem.clear();
    Remember(std::move(opened.records));
}

void CAuthorizationSeal::Remember(std::vector<CSealedAuthorization> records) {
    WipeRemembered();
    Wipe(m_written);
    m_nRemembered = records.size();
    *m_pPending = records.size();
    for (CSealedAuthorization& record : records) {
        m_written.emplace(record.strMAC, record);
        const std::u16string mac = record.strMAC;
        m_remembered[mac] = CRemembered{std::move(record)};
    }
    m_nWrittenGeneration = UINT64_MAX;
    if (m_nRemembered > 0) {
        Log("OrvaneSrv: " + std::to_string(m_nRemembered) +
            " remembered authorizations are verified again as their arrays are sighted");
    }
}

void CAuthorizationSeal::WipeRemembered() {
    for (auto& [mac, entry] : m_remembered) {
        entry.auth.Wipe();
    }
    m_remembered.clear();
    m_dropped.clear();
    m_nRemembered = 0;
    *m_pPending = 0;
}

void CAuthorizationSeal::Stop() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_thread.joinable()) {
            return;
        }
        m_bStop = true;
    }
    m_wake.notify_all();
    m_thread.join();
    {
        std::lock_guard client(m_clientMutex);
        m_pClient.reset(); // queued verifications go; running ones find the link empty
    }
    WriteIfDue(true);
    std::lock_guard lock(m_mutex);
    WipeRemembered();
    Wipe(m_written);
    m_key = CSecretBytes();
}

void CAuthorizationSeal::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_bStop) {
        m_wake.wait_for(lock, kTick);
        if (m_bStop) {
            break;
        }
        lock.unlock();
        RunOnce();
        lock.lock();
    }
}

void CAuthorizationSeal::RunOnce() {
    CheckSightings();
    WriteIfDue(false);
}

void CAuthorizationSeal::CheckSightings() {
    std::vector<std::pair<std::u16string, std::string>> waiting;
    {
        std::lock_guard lock(m_mutex);
        if (m_eState != ESealState::Open) {
            return;
        }
        for (const auto& [mac, entry] : m_remembered) {
            if (entry.eStanding == EStanding::Waiting) {
                waiting.emplace_back(mac, entry.auth.strAuthorizedIP);
            }
        }
    }
    if (waiting.empty()) {
        return;
    }
    // Sighted means: the record is online and bound at the remembered address. Another host
    // announcing the MAC elsewhere changes nothing here; the login goes where the credentials
    // went before the restart, or nowhere.
    const std::vector<ESighting> seen = m_core.Read([&](const CTablesView& tables) {
        std::vector<ESighting> list;
        list.reserve(waiting.size());
        for (const auto& [mac, ip] : waiting) {
            const CServerData* record = tables.servers.Find(mac);
            if (record == nullptr || record->m_bOnline == 0 || ip != record->m_szIPAddr ||
                record->AddressState() == EAddressState::Moved) {
                list.push_back(ESighting::NotYet);
            } else {
                list.push_back(record->m_bAuthorized != 0 ? ESighting::AuthorizedAgain
                                                          : ESighting::Ready);
            }
        }
        return list;
    });
    std::vector<CLoginTarget> targets;
    {
        std::lock_guard lock(m_mutex);
        for (std::size_t i = 0; i < waiting.size(); ++i) {
            const auto it = m_remembered.find(waiting[i].first);
            if (it == m_remembered.end() || it->second.eStanding != EStanding::Waiting ||
                seen[i] == ESighting::NotYet) {
                continue;
            }
            if (seen[i] == ESighting::AuthorizedAgain) {
                Drop(it->second, "an operator logged in to the array again");
                continue;
            }
            const CSealedAuthorization& auth = it->second.auth;
            it->second.eStanding = EStanding::Verifying;
            CLoginTarget target{auth.strMAC, Utf8ToUtf16(auth.strAuthorizedIP), true, false};
            target.credentials = CLoginCredentials{auth.strUserName, auth.strPassword};
            target.bRemembered = true;
            targets.push_back(std::move(target));
        }
    }
    if (targets.empty()) {
        return;
    }
    std::lock_guard client(m_clientMutex);
    if (m_pClient) {
        m_pClient->Login(std::move(targets), {}, {},
                         [link = m_pLink](const CLoginOutcome& outcome) {
                             std::shared_lock lock(link->mutex);
                             if (link->pSeal != nullptr) {
                                 link->pSeal->OnVerified(outcome);
                             }
                         });
    }
}

void CAuthorizationSeal::OnVerified(const CLoginOutcome& outcome) {
    bool bRetry = false;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_remembered.find(outcome.strMAC);
        if (it == m_remembered.end() || it->second.eStanding != EStanding::Verifying) {
            return;
        }
        CRemembered& entry = it->second;
        if (outcome.eResult == ELoginResult::Succeeded) {
            entry.eStanding = EStanding::Verified;
            --*m_pPending;
            entry.auth.nVerifiedAt = NowSeconds();
            m_bDirty = true;
        } else if (outcome.eResult == ELoginResult::TransportError &&
                   ++entry.nUnanswered < kMaxUnanswered) {
            entry.eStanding = EStanding::Waiting; // tried again at the next round
            bRetry = true;
        } else {
            Drop(entry, DropReason(outcome));
        }
    }
    if (m_audit) {
        m_audit(outcome);
    }
    // Only a retry needs the worker before its tick: waking it for every login ending made it
    // scan every remembered authorization under the lock thousands of times a second.
    if (bRetry) {
        m_wake.notify_all();
    }
}

void CAuthorizationSeal::Drop(CRemembered& entry, const std::string& reason) {
    entry.eStanding = EStanding::Dropped;
    --*m_pPending; // only a pending one is dropped
    ++m_dropped[reason];
    m_bDirty = true;
    Log("OrvaneSrv: the remembered authorization of " + Utf16ToUtf8(entry.auth.strMAC) + " at " +
        entry.auth.strAuthorizedIP + " was dropped: " + reason);
    entry.auth.Wipe();
}

std::vector<CSealedAuthorization> CAuthorizationSeal::Snapshot() {
    return m_core.Read([](const CTablesView& tables) {
        std::vector<CSealedAuthorization> list;
        tables.servers.ForEach([&list](const std::u16string& mac, const CServerData& record) {
            if (record.m_bAuthorized != 0) {
                list.push_back({mac, record.m_szAuthorizedIP, record.m_strLoginUserName,
                                record.m_strLoginPasswd, 0, 0});
            }
        });
        return list;
    });
}

std::string CAuthorizationSeal::WriteIfDue(bool bForce) {
    std::lock_guard writing(m_writeMutex);
    const uint64_t generation =
        m_core.Read([](const CTablesView& tables) { return tables.generation; });
    {
        std::lock_guard lock(m_mutex);
        if (m_eState != ESealState::Open || m_key.Empty() || !m_store) {
            return {};
        }
        const bool bChanged = generation != m_nWrittenGeneration || m_bDirty;
        if (!bForce && (!bChanged || Clock::now() - m_lastWrite < kWriteInterval)) {
            return {};
        }
    }
    std::vector<CSealedAuthorization> authorized = Snapshot();
    std::map<std::u16string, CSealedAuthorization> next;
    CSealHeader header;
    CSecretBytes key;
    {
        std::lock_guard lock(m_mutex);
        if (m_eState != ESealState::Open || m_key.Empty()) {
            WipeAll(authorized);
            return {};
        }
        m_nWrittenGeneration = generation;
        m_bDirty = false;
        next = Dated(std::move(authorized));
        if (next == m_written && !bForce) {
            Wipe(next);
            return {};
        }
        header = m_header;
        key = CSecretBytes::CopyOf(m_key.Bytes());
    }
    // Sealing thousands of records and the synced write take tens of milliseconds or more: the
    // logins that verify remembered authorizations end under m_mutex and must not wait for them.
    // m_writeMutex keeps the file's state (TurnOff, another write) still meanwhile.
    std::vector<CSealedAuthorization> records;
    records.reserve(next.size());
    for (const auto& [mac, record] : next) {
        records.push_back(record);
    }
    const std::string error = m_store->Write(SealFile(header, key.Bytes(), records));
    WipeAll(records);
    std::lock_guard lock(m_mutex);
    m_lastWrite = Clock::now();
    if (!error.empty()) {
        if (m_strWriteError.empty()) {
            Log("OrvaneSrv: the remembered authorizations cannot be sealed in " +
                m_store->Path().string() + ": " + error +
                "; the previous file is kept, and the write is tried again at the next change");
        }
        m_strWriteError = error;
        Wipe(next);
        return error;
    }
    m_strWriteError.clear();
    Wipe(m_written);
    m_written = std::move(next);
    return {};
}

// Keeps each authorization's dates: those written before for the same credentials, those of a
// remembered one verified since, or now for a new one. Remembered ones not yet verified stay.
std::map<std::u16string, CSealedAuthorization>
CAuthorizationSeal::Dated(std::vector<CSealedAuthorization> authorized) {
    const std::int64_t now = NowSeconds();
    std::map<std::u16string, CSealedAuthorization> next;
    for (CSealedAuthorization& record : authorized) {
        const auto remembered = m_remembered.find(record.strMAC);
        const auto written = m_written.find(record.strMAC);
        if (remembered != m_remembered.end() &&
            remembered->second.eStanding == EStanding::Verified &&
            SameCredentials(remembered->second.auth, record)) {
            record.nAuthorizedAt = remembered->second.auth.nAuthorizedAt;
            record.nVerifiedAt = remembered->second.auth.nVerifiedAt;
        } else if (written != m_written.end() && SameCredentials(written->second, record)) {
            record.nAuthorizedAt = written->second.nAuthorizedAt;
            record.nVerifiedAt = written->second.nVerifiedAt;
        } else {
            record.nAuthorizedAt = now;
            record.nVerifiedAt = now;
        }
        const std::u16string mac = record.strMAC;
        next.emplace(mac, std::move(record));
    }
    for (const auto& [mac, entry] : m_remembered) {
        const bool bPending =
            entry.eStanding == EStanding::Waiting || entry.eStanding == EStanding::Verifying;
        if (bPending && !next.contains(mac)) {
            next.emplace(mac, entry.auth);
        }
    }
    return next;
}

bool CAuthorizationSeal::UnsealThrottled() {
    const Clock::time_point now = Clock::now();
    while (!m_unsealFailures.empty() && now - m_unsealFailures.front() > kUnsealWindow) {
        m_unsealFailures.pop_front();
    }
    if (m_unsealFailures.size() < static_cast<std::size_t>(kMaxUnsealFailures)) {
        return false;
    }
    m_unsealFailures.push_back(now); // a whole quiet window is needed before the next check
    m_unsealFailures.pop_front();
    return true;
}

CSealAnswer CAuthorizationSeal::Unseal(std::string_view passphrase) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_store || m_eState == ESealState::Off) {
            return {false, "nothing is sealed"};
        }
        if (m_eState == ESealState::Open) {
            return {false, "the sealed file is open already"};
        }
        if (UnsealThrottled()) {
            return {false, "too many wrong passphrases: try again in a minute"};
        }
    }
    const CSealedFileStore::CLoadResult load = m_store->Load();
    if (load.eError != ESealError::None) {
        return {false, std::string(SealErrorText(load.eError))};
    }
    const CSealHeaderRead read = ReadSealHeader(load.bytes);
    if (read.eError != ESealError::None) {
        return {false, std::string(SealErrorText(read.eError))};
    }
    if (read.header.eSource != ESealKeySource::Passphrase) {
        return {false, "the sealed file was sealed with a key file, not a passphrase: start "
                       "OrvaneSrv with --seal-key FILE"};
    }
    CSecretBytes key = DeriveScryptKey(passphrase, read.header.salt, read.header.scrypt);
    CSealOpened opened = OpenSealedFile(load.bytes, key.Bytes());
    std::lock_guard lock(m_mutex);
    if (opened.eError == ESealError::TagMismatch) {
        m_unsealFailures.push_back(Clock::now());
        return {false, "the passphrase does not open the sealed file; nothing was changed"};
    }
    if (opened.eError != ESealError::None) {
        return {false, std::string(SealErrorText(opened.eError))};
    }
    if (!m_key.Empty()) {
        m_bDirty = true; // a key file was given: sealed again under it at the next round
    } else {
        m_key = std::move(key);
        m_header = read.header;
        m_eMode = ESealMode::Passphrase;
    }
    m_eState = ESealState::Open;
    m_strProblem.clear();
    m_unsealFailures.clear();
    Remember(std::move(opened.records));
    m_wake.notify_all();
    return {true, "the sealed file is open: " + std::to_string(m_nRemembered) +
                      " remembered authorizations are handed out again as their arrays answer "
                      "a login"};
}

CSealAnswer CAuthorizationSeal::SealWith(std::string_view passphrase) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_store) {
            return {false, "remembering is not available"};
        }
        if (m_eState == ESealState::Waiting || m_eState == ESealState::Refused) {
            return {false, "a sealed file waits: open it with orvanectl unseal, or forget it "
                           "with orvanectl seal --off"};
        }
        if (m_eMode == ESealMode::KeyFile) {
            return {false, "authorizations are sealed under the key file given at start"};
        }
    }
    CSealHeader header;
    header.eSource = ESealKeySource::Passphrase;
    const CSecretBytes salt = CSecretBytes::Random(kSaltBytes);
    std::copy_n(salt.Bytes().begin(), header.salt.size(), header.salt.begin());
    CSecretBytes key = DeriveScryptKey(passphrase, header.salt, header.scrypt);
    {
        std::lock_guard lock(m_mutex);
        m_key = std::move(key);
        m_header = header;
        m_eMode = ESealMode::Passphrase;
        m_eState = ESealState::Open;
    }
    if (const std::string error = WriteIfDue(true); !error.empty()) {
        return {false, "remembering is on, but the sealed file cannot be written: " + error};
    }
    std::lock_guard lock(m_mutex);
    return {true, "remembering is on: " + std::to_string(m_written.size()) +
                      " authorizations sealed in " + m_store->Path().string()};
}

CSealAnswer CAuthorizationSeal::TurnOff() {
    {
        std::lock_guard client(m_clientMutex);
        if (m_pClient) {
            // Queued verifications go with the old client; running ones find nothing to verify.
            m_pClient =
                m_core.MakeServerTableWorker<CLoginClient>(m_core.LoginPool(), m_loginOptions);
        }
    }
    std::lock_guard writing(m_writeMutex);
    std::lock_guard lock(m_mutex);
    if (!m_store) {
        return {false, "remembering is not available"};
    }
    const std::size_t forgotten = std::max(m_written.size(), m_remembered.size());
    WipeRemembered();
    Wipe(m_written);
    m_key = CSecretBytes();
    m_eMode = ESealMode::Off;
    m_eState = ESealState::Off;
    m_strProblem.clear();
    m_strWriteError.clear();
    if (const std::string error = m_store->Remove(); !error.empty()) {
        return {false, "the sealed file cannot be removed: " + error};
    }
    return {true, "remembering is off: " + std::to_string(forgotten) +
                      " remembered authorizations forgotten and the sealed file removed"};
}

CSealStatus CAuthorizationSeal::Status() const {
    std::lock_guard lock(m_mutex);
    CSealStatus status;
    status.eMode = m_eMode;
    status.eState = m_eState;
    status.file = m_store ? m_store->Path() : std::filesystem::path();
    status.nRemembered = m_nRemembered;
    for (const auto& [mac, entry] : m_remembered) {
        switch (entry.eStanding) {
        case EStanding::Waiting:
            ++status.nWaiting;
            break;
        case EStanding::Verifying:
            ++status.nVerifying;
            break;
        case EStanding::Verified:
            ++status.nVerified;
            break;
        case EStanding::Dropped:
            break;
        }
    }
    status.dropped = m_dropped;
    status.strProblem = m_strProblem;
    status.bAsksPassphrase =
        m_eState == ESealState::Waiting && m_eFileSource == ESealKeySource::Passphrase;
    status.strWriteError = m_strWriteError;
    return status;
}

CAuthorizationSeal::CAtExit CAuthorizationSeal::AtExit() const {
    const std::size_t authorized = m_core.Read([](const CTablesView& tables) {
        std::size_t n = 0;
        tables.servers.ForEach([&n](const std::u16string&, const CServerData& record) {
            n += record.m_bAuthorized != 0 ? 1 : 0;
        });
        return n;
    });
    const CSealStatus status = Status();
    const bool bOn = status.eState == ESealState::Open;
    return {bOn, authorized + (bOn ? status.nWaiting + status.nVerifying : 0)};
}
