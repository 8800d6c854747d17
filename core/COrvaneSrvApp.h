// Start-up and shutdown order of the program, shared by its front ends: the single-instance
// lock, the checks and load of the directory store, the built-in accounts, what runs beside the
// directory (the credential service), and the orderly stop.
#pragma once

#include "core/COrvaneSrvCore.h"
#include "core/CStartUpResult.h"
#include "platform/crypto/CSecretBytes.h"
#include "platform/io/CUniqueFd.h"
#include "storage/CLoginClient.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <sys/types.h>

class COrvaneSrvApp {
public:
    // What the front end runs beside the directory; core knows it only through these.
    struct CServiceHooks {
        std::function<void(COrvaneSrvCore&)> start; // last step of start-up: the service
        std::function<void(COrvaneSrvCore&)> stop;  // first step of shutdown
    };

    // What the front end builds around the directory during start-up and tears down at shutdown,
    // in the program's fixed order (each step may be empty).
    struct CFrontEndSteps {
        // After the directory load, before the built-in accounts: the System page, which starts
        // discovery.
        std::function<void(COrvaneSrvCore&)> afterLoad;
        // After the built-in accounts, before the service: the Account page, the tab settings.
        std::function<void(COrvaneSrvCore&)> beforeService;
        // After the service has stopped, before the records are freed: the pages go.
        std::function<void(COrvaneSrvCore&)> beforeFree;
    };

    // How long start-up waits for a store that another process keeps locked.
    static constexpr std::chrono::milliseconds kStoreLockWait{30000};

    explicit COrvaneSrvApp(CServiceHooks hooks);
    ~COrvaneSrvApp();
    COrvaneSrvApp(const COrvaneSrvApp&) = delete;
    COrvaneSrvApp& operator=(const COrvaneSrvApp&) = delete;

    // False when another copy of the program holds the lock (it then runs for this user).
    // The holder writes its process id into the lock file.
    bool AcquireInstanceLock(const std::filesystem::path& lockFile);
    // The process id that the lock's holder wrote, 0 when there is none to read.
    static pid_t InstanceLockHolder(const std::filesystem::path& lockFile);

    // Opens the store for reading and writing (creating it when it is missing), waits up to
    // the lock wait for another process's lock, with one line on standard error when it has
    // to, checks every page and reads every value of both keys, runs the front end's afterLoad,
    // creates the missing built-in accounts, runs beforeService, and last starts the service.
    // When the store cannot be used the answer carries no core but the operator's text; nothing
    // has been written and no service started. When the built-in accounts cannot be written,
    // afterLoad has run: beforeFree runs before the core goes.
    CStartUpResult StartUp(std::unique_ptr<CRegistryHive> hive, const CFrontEndSteps& steps = {});
    // The service first, then the front end's beforeFree, then every record is freed; the
    // emptied tables go with the core, when its owner lets it go.
    void ShutDown(COrvaneSrvCore& core, const CFrontEndSteps& steps = {});

    void SetStoreLockWait(std::chrono::milliseconds wait) { m_storeLockWait = wait; }
    // Remembering authorizations across restarts: the key from a key file (empty when none was
    // given), where the seal's lines for the operator go, and how its logins reach the arrays.
    struct CSealSetup {
        CSecretBytes key;
        std::function<void(std::string_view)> log;
        CLoginOptions loginOptions;
    };
    void SetSealSetup(CSealSetup setup) { m_seal = std::move(setup); }
    // The audit trail the core records in, with the program's start and stop.
    void SetAuditTrail(std::shared_ptr<CAuditTrail> trail) { m_pAudit = std::move(trail); }
    // The site's directory users, handed to the core it starts; none by default.
    void SetLdapUsers(std::shared_ptr<CLdapUsers> users) { m_pLdapUsers = std::move(users); }

private:
    // Answers the reason the store cannot be used, empty when it can.
    std::u16string OpenStore(COrvaneSrvCore& core);

    CServiceHooks m_hooks;
    CUniqueFd m_lockFd;
    std::chrono::milliseconds m_storeLockWait = kStoreLockWait;
    std::shared_ptr<CAuditTrail> m_pAudit;
    std::shared_ptr<CLdapUsers> m_pLdapUsers;
    CSealSetup m_seal;
};
