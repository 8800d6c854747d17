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
        OnAddUser(p, std::move(msg.m_pUser));
        break;
    case UM_MODIFY_USER:
        OnModifyUser(p, std::move(msg.m_pUser));
        break;
    case UM_DELETE_USER:
        OnDeleteUser(p, msg.m_strName);
        break;
    case UM_ADD_GROUP:
        OnAddGroup(p, std::move(msg.m_pGroup));
        break;
    case UM_MODIFY_GROUP:
        OnModifyGroup(p, std::move(msg.m_pGroup));
        break;
    case UM_DELETE_GROUP:
        OnDeleteGroup(p, msg.m_strName);
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

void COrvaneSrvCore::LinkUserToGroups(const CUserData& user, bool bPersist) {
    for (const auto& groupName : user.m_listGroups) {
        auto it = m_mapGroups.find(groupName);
        if (it == m_mapGroups.end()) {
            continue;
        }
        if (bPersist) {
            m_undo.SaveGroup(m_mapGroups, groupName);
        }
        CGroupData& group = *it->second;
        if (!Contains(group.m_listUsers, user.m_strName)) {
            group.m_listUsers.push_back(user.m_strName);
        }
        if (bPersist) {
            m_batch.WriteGroup(group);
        }
    }
}

void COrvaneSrvCore::LinkGroupToUsers(const CGroupData& group, bool bPersist) {
    for (const auto& userName : group.m_listUsers) {
        auto it = m_mapUsers.find(userName);
        if (it == m_mapUsers.end()) {
            continue;
        }
        if (bPersist) {
            m_undo.SaveUser(m_mapUsers, userName);
        }
        CUserData& user = *it->second;
        if (!Contains(user.m_listGroups, group.m_strName)) {
            user.m_listGroups.push_back(group.m_strName);
        }
        if (bPersist) {
            m_batch.WriteUser(user);
        }
    }
}

void COrvaneSrvCore::UnlinkUserFromGroups(const CUserData& user, bool bPersist) {
    for (const auto& groupName : user.m_listGroups) {
        auto it = m_mapGroups.find(groupName);
        if (it == m_mapGroups.end()) {
            continue;
        }
        if (bPersist) {
            m_undo.SaveGroup(m_mapGroups, groupName);
        }
        if (RemoveFirst(it->second->m_listUsers, user.m_strName) && bPersist) {
            m_batch.WriteGroup(*it->second);
        }
    }
}

void COrvaneSrvCore::UnlinkGroupFromUsers(const CGroupData& group, bool bPersist) {
    for (const auto& userName : group.m_listUsers) {
        auto it = m_mapUsers.find(userName);
        if (it == m_mapUsers.end()) {
            continue;
        }
        if (bPersist) {
            m_undo.SaveUser(m_mapUsers, userName);
        }
        if (RemoveFirst(it->second->m_listGroups, group.m_strName) && bPersist) {
            m_batch.WriteUser(*it->second);
        }
    }
}

void COrvaneSrvCore::OnAddUser(bool bPersist, std::unique_ptr<CUserData> user) {
    if (!user) {
        return;
    }
    if (bPersist) {
        m_undo.SaveUser(m_mapUsers, user->m_strName);
    }
    CUserData& stored = *user;
    m_mapUsers[stored.m_strName] = std::move(user);
    LinkUserToGroups(stored, bPersist);
    if (bPersist) {
        m_batch.WriteUser(stored);
    }
}

void COrvaneSrvCore::OnModifyUser(bool bPersist, std::unique_ptr<CUserData> user) {
    if (!user) {
        return;
    }
    OnDeleteUser(bPersist, user->m_strName);
    OnAddUser(bPersist, std::move(user));
}

void COrvaneSrvCore::OnDeleteUser(bool bPersist, const std::u16string& name) {
    auto it = m_mapUsers.find(name);
    if (it == m_mapUsers.end()) {
        return;
    }
    if (bPersist) {
        m_undo.SaveUser(m_mapUsers, name);
    }
    std::unique_ptr<CUserData> record = std::move(it->second);
    m_mapUsers.erase(it);
    UnlinkUserFromGroups(*record, bPersist);
    if (bPersist) {
        m_batch.DeleteUserValue(record->m_strName);
    }
}

void COrvaneSrvCore::OnAddGroup(bool bPersist, std::unique_ptr<CGroupData> group) {
    if (!group) {
        return;
    }
    if (bPersist) {
        m_undo.SaveGroup(m_mapGroups, group->m_strName);
    }
    CGroupData& stored = *group;
    m_mapGroups[stored.m_strName] = std::move(group);
    LinkGroupToUsers(stored, bPersist);
    if (bPersist) {
        m_batch.WriteGroup(stored);
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
    OnDeleteGroup(bPersist, group->m_strName);
    OnAddGroup(bPersist, std::move(group));
}

void COrvaneSrvCore::OnDeleteGroup(bool bPersist, const std::u16string& name) {
    auto it = m_mapGroups.find(name);
    if (it == m_mapGroups.end()) {
        return;
    }
    if (bPersist) {
        m_undo.SaveGroup(m_mapGroups, name);
    }
    std::unique_ptr<CGroupData> record = std::move(it->second);
    m_mapGroups.erase(it);
    UnlinkGroupFromUsers(*record, bPersist);
    if (bPersist) {
        m_batch.DeleteGroupValue(record->m_strName);
    }
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
        m_undo.SaveGroup(m_mapGroups, carrier->m_strName);
    }
    it->second->m_listAccess = std::move(carrier->m_listAccess);
    if (bPersist) {
        m_batch.WriteGroup(*it->second);
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
            auto msg = CDirectoryMessage::AddUser(
                true, std::make_unique<CUserData>(admin, std::u16string(kDefaultAdminPassword)));
            Dispatch(msg);
        }
        for (const std::u16string_view view : kBuiltInGroups) {
            const std::u16string name(view);
            if (m_mapGroups.contains(name) || m_setUnreadableGroups.contains(name)) {
                continue;
            }
            auto group = std::make_unique<CGroupData>(name);
            group->m_listUsers.push_back(admin);
            auto msg = CDirectoryMessage::AddGroup(true, std::move(group));
            Dispatch(msg);
        }
    }
    // One batch: a start-up that cannot write them all writes none.
    return CommitBatch();
}

bool COrvaneSrvCore::MergeImported(CGroupTable groups, CUserTable users, CConfigCounts* pCounts) {
    CConfigCounts counts;
    {
        auto lock = m_pGuard->LockExclusive();
        for (auto& [key, record] : groups) {
            ++(m_mapGroups.contains(key) ? counts.nGroupsReplaced : counts.nGroups);
            m_undo.SaveGroup(m_mapGroups, key);
            m_mapGroups[key] = std::move(record);
        }
        for (auto& [key, record] : users) {
            ++(m_mapUsers.contains(key) ? counts.nUsersReplaced : counts.nUsers);
            m_undo.SaveUser(m_mapUsers, key);
            m_mapUsers[key] = std::move(record);
        }
        for (const auto& [key, user] : m_mapUsers) {
            m_batch.WriteUser(*user);
        }
        for (const auto& [key, group] : m_mapGroups) {
            m_batch.WriteGroup(*group);
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
    return Read([&](const CTablesView& t) -> std::optional<CServerData> {
        const CServerData* record = t.servers.Find(mac);
        if (record == nullptr) {
            return std::nullopt;
        }
        return *record;
    });
}

std::vector<std::u16string> COrvaneSrvCore::UserNames() const {
    return Read([](const CTablesView& t) { return KeysOf(t.users); });
}

std::vector<std::u16string> COrvaneSrvCore::GroupNames() const {
    return Read([](const CTablesView& t) { return KeysOf(t.groups); });
}
