#include "core/COrvaneSrvCore.h"

#include "core/CArchiveReader.h"
#include "core/audit/DirectoryAudit.h"
#include "core/seal/CAuthorizationSeal.h"
#include "platform/text/TextConv.h"
#include "storage/IsSupportedProduct.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>

namespace {

constexpr const char16_t* kSaveFailedText = u"Failed to save the directory: ";

bool Contains(const std::vector<std::u16string>& list, const std::u16string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

// Removes the first occurrence; answers whether there was one.
bool RemoveFirst(std::vector<std::u16string>& list, const std::u16string& name) {
    auto it = std::find(list.begin(), list.end(), name);
    if (it == list.end()) {
        return false;
    }
    list.erase(it);
    return true;
}

// The other side of a membership: a user's groups, a group's users.
std::vector<std::u16string>& Links(CUserData& user) {
    return user.m_listGroups;
}

std::vector<std::u16string>& Links(CGroupData& group) {
    return group.m_listUsers;
}

const char* ErrorName(EArchiveError error) {
    switch (error) {
    case EArchiveError::EndOfFile:
        return "the data ends inside the record";
    case EArchiveError::Generic:
        return "a text is too long";
    case EArchiveError::BadClass:
        return "unexpected object";
    case EArchiveError::BadSchema:
        return "incorrect schema";
    case EArchiveError::BadIndex:
        return "bad index";
    case EArchiveError::BadKey:
        return "bad key";
    case EArchiveError::None:
        break;
    }
    return "not a record";
}

void WarnSkipped(std::u16string_view key, const std::u16string& name, std::string_view reason) {
    const std::string line = "OrvaneSrv: skipped registry value \"" + Utf16ToUtf8(name) +
                             "\" under " + Utf16ToUtf8(key) + ": " + std::string(reason) +
                             "; it is left as it is\n";
    std::fputs(line.c_str(), stderr);
}

// A stored value read as a record, or null (with a warning) when its bytes are not one.
template <typename Record>
std::unique_ptr<Record> ReadRecord(std::u16string_view key, const std::u16string& name,
                                   const std::vector<uint8_t>& data) {
    CArchiveReader ar(data);
    auto record = std::make_unique<Record>();
    if (!record->Deserialize(ar)) {
        WarnSkipped(key, name, ErrorName(ar.Error()));
        return nullptr;
    }
    // A user or group without a name cannot be told from a missing one: the credential service
    // would hand the arrays of a user "" to requests that name nobody.
    if (record->m_strName.empty()) {
        WarnSkipped(key, name, "the record has no name");
        return nullptr;
    }
    return record;
}

} // namespace

COrvaneSrvCore::COrvaneSrvCore(std::unique_ptr<CRegistryHive> hive)
    : m_registry(std::move(hive)), m_pGuard(std::make_shared<CTableGuard>()),
      m_tables(m_pGuard, m_mapServers, m_mapUsers, m_mapGroups),
      m_pSeal(std::make_unique<CAuthorizationSeal>(*this)) {}

COrvaneSrvCore::~COrvaneSrvCore() {
    FreeTables();
    m_pSeal.reset();
}

void COrvaneSrvCore::NotifyChanged() const {
    if (m_onChanged) {
        m_onChanged();
    }
}

bool COrvaneSrvCore::HasDefaultAdminPassword() const {
    auto lock = m_pGuard->LockShared();
    const auto it = m_mapUsers.find(std::u16string(kAdminUser));
    return it != m_mapUsers.end() && it->second->m_strPassword == kDefaultAdminPassword;
}

long COrvaneSrvCore::SendMessage(CDirectoryMessage msg) {
    std::optional<CAuditRecord> record;
    {
        auto lock = m_pGuard->LockExclusive();
        // Checked against the tables it would change, under the same guard: whatever sent it.
        m_refusal = CDirectoryRules::CheckMessage(msg, m_mapUsers, m_mapGroups);
        if (m_refusal) {
            m_strSaveError.clear();
            return kRefused;
        }
        if (m_pAudit) {
            record = DirectoryChangeRecord(msg, m_mapUsers, m_strChangeSource);
        }
        Dispatch(msg);
    }
    // The registry writes run outside the guard: readers never wait on the disk.
    const bool bSaved = CommitBatch();
    // A change the store refused was undone: the trail records only what happened.
    if (record && bSaved) {
        m_pAudit->Write(*record);
    }
    NotifyChanged();
    return bSaved ? 0 : kSaveFailed;
}

void COrvaneSrvCore::Dispatch(CDirectoryMessage& msg) {
    const bool p = msg.m_bPersist;
    switch (msg.m_id) {
    case UM_ADD_USER:
        Add(m_mapUsers, m_mapGroups, std::move(msg.m_pUser), p);
        break;
    case UM_MODIFY_USER:
        Replace(m_mapUsers, m_mapGroups, std::move(msg.m_pUser), p);
        break;
    case UM_DELETE_USER:
        Remove(m_mapUsers, m_mapGroups, msg.m_strName, p);
        break;
    case UM_ADD_GROUP:
        Add(m_mapGroups, m_mapUsers, std::move(msg.m_pGroup), p);
        break;
    case UM_MODIFY_GROUP:
        OnModifyGroup(p, std::move(msg.m_pGroup));
        break;
    case UM_DELETE_GROUP:
        Remove(m_mapGroups, m_mapUsers, msg.m_strName, p);
        break;
    case UM_SET_GROUP_ACCESS:
        OnSetGroupAccess(p, std::move(msg.m_pGroup));
        break;
    }
}

bool COrvaneSrvCore::CommitBatch() {
    const bool written = m_registry.Apply(m_batch);
    m_batch.Clear();
    if (written) {
        m_undo.Clear();
        m_strSaveError.clear();
        return true;
    }
    // Nothing of the batch was written: memory goes back to what the store holds.
    m_strSaveError = kSaveFailedText + Utf8ToUtf16(m_registry.LastFailureText());
    auto lock = m_pGuard->LockExclusive();
    m_undo.Restore(m_mapUsers, m_mapGroups);
    return false;
}

template <class Table>
void COrvaneSrvCore::Relink(Table& table, const std::vector<std::u16string>& names,
                            const std::u16string& name, bool bLink, bool bPersist) {
    for (const auto& otherName : names) {
        auto it = table.find(otherName);
        if (it == table.end()) {
            continue;
        }
        if (bPersist) {
            m_undo.Save(table, otherName);
        }
        auto& list = Links(*it->second);
        bool bWrite = true; // a link writes the record even when it held the name already
        if (!bLink) {
            bWrite = RemoveFirst(list, name);
        } else if (!Contains(list, name)) {
            list.push_back(name);
        }
        if (bWrite && bPersist) {
            m_batch.Write(*it->second);
        }
    }
}

template <class Table, class Other, class Record>
void COrvaneSrvCore::Add(Table& table, Other& other, std::unique_ptr<Record> record,
                         bool bPersist) {
    if (!record) {
        return;
    }
    if (bPersist) {
        m_undo.Save(table, record->m_strName);
    }
    Record& stored = *record;
    table[stored.m_strName] = std::move(record);
    Relink(other, Links(stored), stored.m_strName, true, bPersist);
    if (bPersist) {
        m_batch.Write(stored);
    }
}

template <class Table, class Other, class Record>
void COrvaneSrvCore::Replace(Table& table, Other& other, std::unique_ptr<Record> record,
                             bool bPersist) {
    if (!record) {
        return;
    }
    Remove(table, other, record->m_strName, bPersist);
    Add(table, other, std::move(record), bPersist);
}

template <class Table, class Other>
void COrvaneSrvCore::Remove(Table& table, Other& other, const std::u16string& name, bool bPersist) {
    auto it = table.find(name);
    if (it == table.end()) {
        return;
    }
    if (bPersist) {
        m_undo.Save(table, name);
    }
    auto record = std::move(it->second);
    table.erase(it);
    Relink(other, Links(*record), record->m_strName, false, bPersist);
    if (bPersist) {
        m_batch.Delete(*record);
    }
}

void COrvaneSrvCore::OnModifyGroup(bool bPersist, std::unique_ptr<CGroupData> group) {
    if (!group) {
        return;
    }
    auto it = m_mapGroups.find(group->m_strName);
    if (it == m_mapGroups.end()) {
        return; // only an existing group can be modified; the record is freed
    }
    // A modify changes the members and the directory groups (as the group dialog shows both)
    // and keeps the access list, which has a dialog of its own.
    const auto& oldAccess = it->second->m_listAccess;
    group->m_listAccess.insert(group->m_listAccess.end(), oldAccess.begin(), oldAccess.end());
    Replace(m_mapGroups, m_mapUsers, std::move(group), bPersist);
}

void COrvaneSrvCore::OnSetGroupAccess(bool bPersist, std::unique_ptr<CGroupData> carrier) {
    if (!carrier) {
        return;
    }
    auto it = m_mapGroups.find(carrier->m_strName);
    if (it == m_mapGroups.end()) {
        return; // no such group: the carrier is freed
    }
    if (bPersist) {
        m_undo.Save(m_mapGroups, carrier->m_strName);
    }
    it->second->m_listAccess = std::move(carrier->m_listAccess);
    if (bPersist) {
        m_batch.Write(*it->second);
    }
}

bool COrvaneSrvCore::LoadKey(std::u16string_view key, bool bUsers) {
    if (!m_registry.KeyExists(key)) {
        // Only a key that is not there is made; one that cannot be opened is a store that
        // cannot be used.
        return m_registry.m_lLastError == ERROR_FILE_NOT_FOUND && m_registry.CreateKey(key);
    }
    auto& unreadable = bUsers ? m_setUnreadableUsers : m_setUnreadableGroups;
    return m_registry.LoadValues(
        key, [&](const std::u16string& name, const std::vector<uint8_t>& data) {
            if (bUsers) {
                if (auto user = ReadRecord<CUserData>(key, name, data)) {
                    SendMessage(CDirectoryMessage::AddUser(false, std::move(user)));
                    return;
                }
            } else if (auto group = ReadRecord<CGroupData>(key, name, data)) {
                SendMessage(CDirectoryMessage::AddGroup(false, std::move(group)));
                return;
            }
            unreadable.insert(name);
        });
}

bool COrvaneSrvCore::LoadDirectory() {
    // Users before groups: adding a group links it into the user records already loaded.
    return LoadKey(kUserKey, true) && LoadKey(kGroupKey, false);
}

bool COrvaneSrvCore::CreateBuiltInAccounts() {
    {
        auto lock = m_pGuard->LockExclusive();
        const std::u16string admin(kAdminUser);
        if (!m_mapUsers.contains(admin) && !m_setUnreadableUsers.contains(admin)) {
            Add(m_mapUsers, m_mapGroups,
                std::make_unique<CUserData>(admin, std::u16string(kDefaultAdminPassword)), true);
        }
        for (const std::u16string_view view : kBuiltInGroups) {
            const std::u16string name(view);
            if (m_mapGroups.contains(name) || m_setUnreadableGroups.contains(name)) {
                continue;
            }
            auto group = std::make_unique<CGroupData>(name);
            group->m_listUsers.push_back(admin);
            Add(m_mapGroups, m_mapUsers, std::move(group), true);
        }
    }
    // One batch: a start-up that cannot write them all writes none.
    return CommitBatch();
}

bool COrvaneSrvCore::MergeImported(CGroupTable groups, CUserTable users, CConfigCounts* pCounts) {
    CConfigCounts counts;
    {
        auto lock = m_pGuard->LockExclusive();
        const auto merge = [&](auto& table, auto& imported, std::size_t& added,
                               std::size_t& replaced) {
            for (auto& [key, record] : imported) {
                ++(table.contains(key) ? replaced : added);
                m_undo.Save(table, key);
                table[key] = std::move(record);
            }
        };
        merge(m_mapGroups, groups, counts.nGroups, counts.nGroupsReplaced);
        merge(m_mapUsers, users, counts.nUsers, counts.nUsersReplaced);
        for (const auto& [key, user] : m_mapUsers) {
            m_batch.Write(*user);
        }
        for (const auto& [key, group] : m_mapGroups) {
            m_batch.Write(*group);
        }
    }
    const bool bSaved = CommitBatch();
    NotifyChanged();
    if (bSaved && pCounts != nullptr) {
        *pCounts = counts;
    }
    return bSaved;
}

void COrvaneSrvCore::FreeTables() {
    // The last seal of the authorizations needs the records they are read from.
    m_pSeal->Stop();
    auto lock = m_pGuard->LockExclusive();
    m_pGuard->m_bTablesAlive = false;
    m_mapServers.Clear();
    m_mapUsers.clear();
    m_mapGroups.clear();
}

std::optional<CLoginCandidate> COrvaneSrvCore::LoginCandidate(const std::u16string& mac) const {
    return std::move(LoginCandidates({&mac, 1}).front());
}

std::vector<std::optional<CLoginCandidate>>
COrvaneSrvCore::LoginCandidates(std::span<const std::u16string> macs) const {
    auto lock = m_pGuard->LockShared();
    std::vector<std::optional<CLoginCandidate>> candidates(macs.size());
    if (!m_pGuard->m_bTablesAlive) {
        return candidates;
    }
    // Once per call: a fleet-wide login asks for every array, and a group may reach thousands.
    std::unordered_set<std::u16string_view> reached;
    for (const auto& [name, group] : m_mapGroups) {
        reached.insert(group->m_listAccess.begin(), group->m_listAccess.end());
    }
    for (std::size_t i = 0; i < macs.size(); ++i) {
        const std::u16string& mac = macs[i];
        const CServerData* record = m_mapServers.Find(mac);
        if (record == nullptr) {
            continue;
        }
        candidates[i] = CLoginCandidate{mac,
                                        Utf8ToUtf16(record->m_szIPAddr),
                                        Utf8ToUtf16(record->m_szSystemName),
                                        Utf8ToUtf16(record->m_szProduct),
                                        CDirectoryRules::TakesLogin(mac, record),
                                        record->m_bKnown || reached.contains(mac),
                                        record->AddressState(),
                                        Utf8ToUtf16(record->LatestClaim())};
    }
    return candidates;
}

std::size_t COrvaneSrvCore::AddressConflicts() const {
    auto lock = m_pGuard->LockShared();
    std::size_t count = 0;
    if (m_pGuard->m_bTablesAlive) {
        m_mapServers.ForEach([&count](const std::u16string&, const CServerData& record) {
            count += record.AddressState() != EAddressState::Bound ? 1 : 0;
        });
    }
    return count;
}

namespace {

template <class Table>
std::vector<std::u16string> KeysOf(const Table& table) {
    std::vector<std::u16string> names;
    names.reserve(table.size());
    for (const auto& entry : table) {
        names.push_back(entry.first);
    }
    return names;
}

// A copy of the record filed under name, or none; the caller holds the guard.
template <class Record, class Table>
std::optional<Record> CopyOf(const Table& table, const std::u16string& name) {
    const auto it = table.find(name);
    if (it == table.end() || !it->second) {
        return std::nullopt;
    }
    return *it->second;
}

} // namespace

std::optional<CUserData> COrvaneSrvCore::UserRecord(const std::u16string& name) const {
    return Read([&](const CTablesView& t) { return CopyOf<CUserData>(t.users, name); });
}

std::optional<CGroupData> COrvaneSrvCore::GroupRecord(const std::u16string& name) const {
    return Read([&](const CTablesView& t) { return CopyOf<CGroupData>(t.groups, name); });
}

std::optional<CServerData> COrvaneSrvCore::ServerRecord(const std::u16string& mac) const {
    return Read([&](const CTablesView& t) {
        const CServerData* record = t.servers.Find(mac);
        return record != nullptr ? std::optional(*record) : std::nullopt;
    });
}

std::vector<std::u16string> COrvaneSrvCore::UserNames() const {
    return Read([](const CTablesView& t) { return KeysOf(t.users); });
}

std::vector<std::u16string> COrvaneSrvCore::GroupNames() const {
    return Read([](const CTablesView& t) { return KeysOf(t.groups); });
}
