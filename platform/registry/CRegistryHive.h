// The per-user registry: one SQLite database per user under the XDG config directory, holding
// keys named by backslash paths and, under each key, binary values named by UTF-16 text.
//
// Each write that returns has been committed durably (WAL, synchronous=FULL) unless a
// transaction is open, in which case Commit makes all of its writes durable at once. A second
// process may open the same file; SQLite's locking keeps the file consistent.
//
// The file holds clear-text passwords: when the hive opens it, the folder is narrowed to 0700
// and the file and its -wal/-shm side files to 0600 (SQLite gives new side files the file's
// mode), with one line on standard error naming what was looser. Modes are never widened.
#pragma once

#include "platform/registry/CSqliteStatement.h"
#include "platform/registry/RegistryTypes.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

struct sqlite3;
class CRegistryKey;

class CRegistryHive {
public:
    // $XDG_CONFIG_HOME/OrvaneSrv/registry.db, else ~/.config/OrvaneSrv/registry.db.
    static std::filesystem::path DefaultPath();

    // Opens lazily: a hive whose file cannot be opened answers every call with an error.
    explicit CRegistryHive(std::filesystem::path file);
    ~CRegistryHive();
    CRegistryHive(const CRegistryHive&) = delete;
    CRegistryHive& operator=(const CRegistryHive&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

    // How long a call waits for a lock that another connection holds before it gives up with
    // ERROR_LOCK_VIOLATION; onWait runs once, when the first such wait begins.
    static constexpr std::chrono::milliseconds kDefaultLockWait{5000};
    void SetLockWait(std::chrono::milliseconds wait, std::function<void()> onWait = {});

    // Opens the file now (every other call opens it when first needed). A file that may only
    // be read opens read-only; IsReadOnly tells, even when the open failed after all.
    LSTATUS Connect();
    bool IsReadOnly() const { return m_bReadOnly; }
    // Reads every page of the file and checks its structure: damage anywhere in it, not only in
    // what a lookup happens to touch, answers ERROR_REGISTRY_IO_FAILED.
    LSTATUS CheckIntegrity();
    // Why the last call failed, as SQLite and the system put it (UTF-8); Begin clears it, so
    // that it tells what failed in the transaction.
    std::string LastErrorText() const { return m_strError; }

    LSTATUS OpenKey(std::u16string_view path, REGSAM access, CRegistryKey& out);
    LSTATUS CreateKey(std::u16string_view path, REGSAM access, CRegistryKey& out);

    // Groups the writes made until Commit (or Rollback) into one durable transaction.
    // Nested calls count; only the outermost commits.
    LSTATUS Begin();
    LSTATUS Commit();
    void Rollback();

private:
    friend class CRegistryKey;
    static int OnBusy(void* self, int count);
    LSTATUS Result(int rc);
    LSTATUS FailConnect(int rc);
    int PrepareStatements();
    void FinalizeStatements();
    LSTATUS FindKey(std::string_view path, int64_t& id);
    LSTATUS InsertKey(std::string_view path, int64_t& id);
    LSTATUS CreatePath(std::string_view path, int64_t& id);
    LSTATUS Open(std::u16string_view path, REGSAM access, bool create, CRegistryKey& out);
    LSTATUS Exec(const char* sql);

    std::filesystem::path m_path;
    CSqliteStatement m_findKey;
    CSqliteStatement m_insertKey;
    CSqliteStatement m_upsertValue;
    CSqliteStatement m_deleteValue;
    CSqliteStatement m_enumValues;
    sqlite3* m_db = nullptr;
    bool m_bReadOnly = false;
    bool m_bConnectFailed = false;
    int m_nTransactionDepth = 0;
    std::string m_strError;
    std::string m_strConnectError; // why the file is unusable, once that is known for good
    std::chrono::milliseconds m_lockWait = kDefaultLockWait;
    std::function<void()> m_onLockWait;
    bool m_bLockWaitNoticed = false;
    std::chrono::steady_clock::time_point m_busySince;
};
