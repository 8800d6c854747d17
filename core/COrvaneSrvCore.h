// The object that owns the account directory and the storage server table: the user and group
// tables, the registry store that persists the directory, and the guard over all three tables.
// The main window holds one; the credential service's threads get it as their parameter.
//
// The tables and the guard are its own: code outside core and storage reads them through Read
// (a function run under the shared guard) or a snapshot function, and changes them through
// SendMessage, MergeImported or ChangeServers, which take the exclusive guard and so move the
// generation that the service's "/Query" cache relies on.
//
// Every directory change is a CDirectoryMessage delivered to SendMessage on the window thread.
// The in-memory change happens under the exclusive guard; the registry writes that it asks for
// are collected on the way and committed afterwards as one transaction, outside the guard. When
// that transaction fails, the records it changed are put back as they were: the tables never
// show a change that the store does not hold.
#pragma once

#include "core/CConfigResult.h"
#include "core/CDirectoryMessage.h"
#include "core/CDirectoryRules.h"
#include "core/CDirectoryUndo.h"
#include "core/CLoginCandidate.h"
#include "core/CRegistryStore.h"
#include "core/CTablesAccess.h"
#include "core/CTablesView.h"
#include "core/audit/CAuditTrail.h"
#include "core/ldap/CLdapUsers.h"
#include "platform/sync/CTableGuard.h"
#include "storage/CLoginPool.h"
#include "storage/CServerTable.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

class CAuthorizationSeal;

class COrvaneSrvCore {
public:
    explicit COrvaneSrvCore(std::unique_ptr<CRegistryHive> hive);
    ~COrvaneSrvCore();
    COrvaneSrvCore(const COrvaneSrvCore&) = delete;
    COrvaneSrvCore& operator=(const COrvaneSrvCore&) = delete;

    // What SendMessage answers when the operation's registry writes failed, and when the
    // directory's rules refused it (LastRefusal() says which rule).
    static constexpr long kSaveFailed = -1;
    static constexpr long kRefused = -2;

    // The accounts every directory has. Their records can be edited; they are never deleted, as
    // start-up would bring "admin" back with its public default password.
    static constexpr std::u16string_view kAdminUser = CDirectoryRules::kAdminUser;
    static constexpr std::u16string_view kDefaultAdminPassword = u"9983";
    static constexpr auto kBuiltInGroups = CDirectoryRules::kBuiltInGroups;

    // Delivers one directory operation. Answers 0 when its registry writes were made (or none
    // were asked for); otherwise kSaveFailed, with the change undone in memory too and
    // LastSaveError() telling why, or kRefused, with nothing changed and LastRefusal() telling
    // which rule the message breaks (CDirectoryRules::CheckMessage).
    long SendMessage(CDirectoryMessage msg);
    // Whether "admin" still has the default password everyone knows.
    bool HasDefaultAdminPassword() const;
    // Called on the window thread after every change that went through SendMessage or
    // MergeImported, made or not.
    void SetChangeListener(std::function<void()> listener) { m_onChanged = std::move(listener); }

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
    // user and every group record to the registry in one transaction. Answers whether that was
    // written; when not, the tables are as they were before and LastSaveError() tells why. When
    // written, *pCounts (if given) says how many records were added and how many replaced.
    bool MergeImported(CGroupTable groups, CUserTable users, CConfigCounts* pCounts = nullptr);
    // Shutdown: frees every record (servers, users, groups) under the guard; nothing is written.
    void FreeTables();

    // The process's one login pool: the Login button and every orvanectl login share its places.
    const std::shared_ptr<CLoginPool>& LoginPool() const { return m_pLoginPool; }
    // The authorizations remembered across restarts, sealed beside the store.
    CAuthorizationSeal& Seal() const { return *m_pSeal; }
    // Runs f(const CTablesView&) under the shared guard and answers what f answers.
    template <class F>
    decltype(auto) Read(F&& f) const {
        return m_tables.Read(std::forward<F>(f));
    }
    // The same way in, for a holder that may outlive this object (see CTablesAccess).
    const CTablesAccess& Tables() const { return m_tables; }
    // Runs f(CServerTable&) under the exclusive guard; false (f not run) once the tables are
    // freed. For changes of storage server records made outside discovery and the login client.
    template <class F>
    bool ChangeServers(F&& f) {
        return m_tables.ChangeServers(std::forward<F>(f));
    }
    // Copies taken under the shared guard, for callers that want values, not a view.
    std::optional<CUserData> UserRecord(const std::u16string& name) const;
    std::optional<CGroupData> GroupRecord(const std::u16string& name) const;
    std::optional<CServerData> ServerRecord(const std::u16string& mac) const;
    std::vector<std::u16string> UserNames() const;
    std::vector<std::u16string> GroupNames() const;
    // Makes a storage worker over the server table: T(table, guard, args...). Discovery and the
    // login client take the guard themselves; nobody else is handed it.
    template <class T, class... Args>
    std::unique_ptr<T> MakeServerTableWorker(Args&&... args) {
        return std::make_unique<T>(m_mapServers, m_pGuard, std::forward<Args>(args)...);
    }
    // The array's standing for a login, read under the shared guard; none when no record has
    // that MAC (or the tables are freed).
    std::optional<CLoginCandidate> LoginCandidate(const std::u16string& mac) const;
    // The same for many arrays under one hold of the guard, in their order.
    std::vector<std::optional<CLoginCandidate>>
    LoginCandidates(std::span<const std::u16string> macs) const;
    // How many arrays are in conflict or "moved?".
    std::size_t AddressConflicts() const;
    // The operator's text for the last directory change that could not be saved ("Failed to
    // save the directory: " and the reason); empty after one that was made or refused.
    const std::u16string& LastSaveError() const { return m_strSaveError; }
    // The rule that the last message sent broke; none after one that was not refused.
    const CRefusal& LastRefusal() const { return m_refusal; }

    // The audit trail that changes, logins and the service's answers are recorded in; none
    // (the default) records nothing. Set before anything runs beside the directory.
    void SetAuditTrail(std::shared_ptr<CAuditTrail> trail) { m_pAudit = std::move(trail); }
    const std::shared_ptr<CAuditTrail>& AuditTrail() const { return m_pAudit; }
    // The users of the site's LDAP directory; none (the default) when the settings configure
    // no directory. Set before the service starts.
    void SetLdapUsers(std::shared_ptr<CLdapUsers> users) { m_pLdapUsers = std::move(users); }
    const std::shared_ptr<CLdapUsers>& LdapUsers() const { return m_pLdapUsers; }
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

private:
    // The start-up order opens the store; the tests' accessor reaches what tests must arrange.
    friend class COrvaneSrvApp;
    friend class CCoreTestAccess;

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
    void NotifyChanged() const;

    CServerTable m_mapServers;
    CUserTable m_mapUsers;
    CGroupTable m_mapGroups;
    CRegistryStore m_registry;
    std::shared_ptr<CTableGuard> m_pGuard;
    CTablesAccess m_tables;
    std::shared_ptr<CAuditTrail> m_pAudit;
    std::shared_ptr<CLdapUsers> m_pLdapUsers;
    std::shared_ptr<CLoginPool> m_pLoginPool = std::make_shared<CLoginPool>();
    std::string m_strChangeSource = "console";
    CRegistryBatch m_batch; // writes of the operation under way
    CDirectoryUndo m_undo;  // the records it changes, as they were
    std::u16string m_strSaveError;
    CRefusal m_refusal;
    std::function<void()> m_onChanged;
    std::unique_ptr<CAuthorizationSeal> m_pSeal; // last member: its worker reads the tables
    // Names of the stored values that the load skipped because they are not records.
    std::unordered_set<std::u16string> m_setUnreadableUsers;
    std::unordered_set<std::u16string> m_setUnreadableGroups;
};
