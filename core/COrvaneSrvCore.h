// The object that owns the account directory and the storage server table: the user and group
// tables, the registry store that persists the directory, and the guard over all three tables.
// The main window holds one; the credential service's threads get it as their parameter.
//
// Every directory change is a CDirectoryMessage delivered to SendMessage on the window thread.
// The in-memory change happens under the exclusive guard; the registry writes that it asks for
// are collected on the way and committed afterwards as one transaction, outside the guard.
#pragma once

#include "core/CDirectoryMessage.h"
#include "core/CGroupData.h"
#include "core/CRegistryStore.h"
#include "core/CUserData.h"
#include "platform/io/CAuditTrail.h"
#include "platform/sync/CTableGuard.h"
#include "storage/CServerTable.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

using CUserTable = std::unordered_map<std::u16string, std::unique_ptr<CUserData>>;
using CGroupTable = std::unordered_map<std::u16string, std::unique_ptr<CGroupData>>;

class COrvaneSrvCore {
public:
    explicit COrvaneSrvCore(std::unique_ptr<CRegistryHive> hive);
    ~COrvaneSrvCore();
    COrvaneSrvCore(const COrvaneSrvCore&) = delete;
    COrvaneSrvCore& operator=(const COrvaneSrvCore&) = delete;

    // Delivers one directory operation; always answers 0.
    long SendMessage(CDirectoryMessage msg);

    // Start-up: loads users, then groups, from the registry (creating a key that is missing).
    // Answers whether both keys were read in full (or made); the store's last error says why
    // not. A value that is not a record is skipped with a warning and does not count.
    bool LoadDirectory();
    // Creates "admin", "Administrator" and "Everyone" where absent, persisted together in one
    // batch; answers whether that batch was written. A built-in account whose stored value
    // could not be read is not replaced by the default one: that would overwrite it with a
    // password everyone knows.
    bool CreateBuiltInAccounts();
    // Import: stores every entry under its key, replacing records of that key, then writes every
    // user and every group record to the registry in one transaction.
    void MergeImported(CGroupTable groups, CUserTable users);
    // Shutdown: frees every record (servers, users, groups) under the guard; nothing is written.
    void FreeTables();

    const std::shared_ptr<CTableGuard>& Guard() const { return m_pGuard; }

    // The audit trail that changes, logins and the service's answers are recorded in; none
    // (the default) records nothing. Set before anything runs beside the directory.
    void SetAuditTrail(std::shared_ptr<CAuditTrail> trail) { m_pAudit = std::move(trail); }
    const std::shared_ptr<CAuditTrail>& AuditTrail() const { return m_pAudit; }
    void Audit(const CAuditRecord& record) const {
        if (m_pAudit) {
            m_pAudit->Write(record);
        }
    }
    // Where the directory changes being made come from, for their audit records: "console"
    // unless a scope says otherwise (window thread only).
    const std::string& ChangeSource() const { return m_strChangeSource; }
    class CChangeSourceScope {
    public:
        CChangeSourceScope(COrvaneSrvCore& core, std::string source)
            : m_core(core), m_strSaved(std::exchange(core.m_strChangeSource, std::move(source))) {}
        ~CChangeSourceScope() { m_core.m_strChangeSource = std::move(m_strSaved); }
        CChangeSourceScope(const CChangeSourceScope&) = delete;
        CChangeSourceScope& operator=(const CChangeSourceScope&) = delete;

    private:
        COrvaneSrvCore& m_core;
        std::string m_strSaved;
    };

    CServerTable m_mapServers;
    CUserTable m_mapUsers;
    CGroupTable m_mapGroups;
    CRegistryStore m_registry;

private:
    void OnAddUser(bool bPersist, std::unique_ptr<CUserData> user);
    void OnModifyUser(bool bPersist, std::unique_ptr<CUserData> user);
    void OnDeleteUser(bool bPersist, const std::u16string& name);
    void OnAddGroup(bool bPersist, std::unique_ptr<CGroupData> group);
    void OnModifyGroup(bool bPersist, std::unique_ptr<CGroupData> group);
    void OnDeleteGroup(bool bPersist, const std::u16string& name);
    void OnSetGroupAccess(bool bPersist, std::unique_ptr<CGroupData> carrier);

    void LinkUserToGroups(const CUserData& user, bool bPersist);
    void LinkGroupToUsers(const CGroupData& group, bool bPersist);
    void UnlinkUserFromGroups(const CUserData& user, bool bPersist);
    void UnlinkGroupFromUsers(const CGroupData& group, bool bPersist);
    void Dispatch(CDirectoryMessage& msg);
    bool LoadKey(std::u16string_view key, bool bUsers);
    bool CommitBatch();

    std::shared_ptr<CTableGuard> m_pGuard;
    std::shared_ptr<CAuditTrail> m_pAudit;
    std::string m_strChangeSource = "console";
    CRegistryBatch m_batch; // writes of the operation under way
    // Names of the stored values that the load skipped because they are not records.
    std::unordered_set<std::u16string> m_setUnreadableUsers;
    std::unordered_set<std::u16string> m_setUnreadableGroups;
};
