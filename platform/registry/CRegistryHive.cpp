#include "platform/registry/CRegistryHive.h"

#include "platform/io/CUniqueFd.h"
#include "platform/registry/CRegistryKey.h"
#include "platform/text/TextConv.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* kSchema = "CREATE TABLE IF NOT EXISTS reg_keys("
                                "  id INTEGER PRIMARY KEY,"
                                "  path TEXT NOT NULL UNIQUE);"
                                "CREATE TABLE IF NOT EXISTS reg_values("
                                "  id INTEGER PRIMARY KEY,"
                                "  key_id INTEGER NOT NULL,"
                                "  name BLOB NOT NULL,"
                                "  type INTEGER NOT NULL,"
                                "  data BLOB NOT NULL,"
                                "  UNIQUE(key_id, name));";

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr std::chrono::milliseconds kBusyStep{10};

LSTATUS FromSqlite(int rc) {
    switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
        return ERROR_SUCCESS;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN:
        return ERROR_ACCESS_DENIED;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return ERROR_LOCK_VIOLATION;
    case SQLITE_FULL:
        return ERROR_DISK_FULL;
    default:
        return ERROR_REGISTRY_IO_FAILED;
    }
}

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Takes away every permission bit beyond `allowed` (never adds one); answers a note when the
// mode was looser, empty otherwise. A shared folder with the sticky bit (/tmp) is never
// narrowed: it is nobody's own, and narrowing it would break every other user of it.
std::string Narrow(const std::filesystem::path& path, mode_t allowed) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || (st.st_mode & 07777 & ~allowed) == 0 ||
        (S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0)) {
        return {};
    }
    const mode_t narrowed = st.st_mode & allowed;
    std::string note = path.string() + " (" + ModeText(st.st_mode);
    if (::chmod(path.c_str(), narrowed) == 0) {
        note += " -> " + ModeText(narrowed) + ")";
    } else {
        note += std::string(", cannot be changed: ") + std::strerror(errno) + ")";
    }
    return note;
}

void NarrowPermissions(const std::filesystem::path& file) {
    std::string notes;
    for (const auto& note :
         {Narrow(file.parent_path(), kFolderMode), Narrow(file, kFileMode),
          Narrow(file.string() + "-wal", kFileMode), Narrow(file.string() + "-shm", kFileMode)}) {
        if (!note.empty()) {
            notes += (notes.empty() ? "" : ", ") + note;
        }
    }
    if (!notes.empty()) {
        const std::string line =
            "OrvaneSrv: the directory store was open to other users; narrowed " + notes + "\n";
        std::fputs(line.c_str(), stderr);
    }
}

// Whether the store's file can be used, found before SQLite opens it.
struct CFileAccess {
    int error = 0;          // errno when the file can be neither written nor read
    bool bReadOnly = false; // it can only be read; error holds why not written
};

// The file is created before SQLite opens it, so that it never exists with looser permissions.
CFileAccess EnsureFile(const std::filesystem::path& file) {
    std::error_code ec;
    const auto dir = file.parent_path();
    if (!dir.empty() && !std::filesystem::exists(dir, ec)) {
        std::filesystem::create_directories(dir, ec);
        if (ec) {
            return {ec.value(), false};
        }
        ::chmod(dir.c_str(), kFolderMode);
    }
    if (CUniqueFd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kFileMode))) {
        return {};
    }
    const int openErrno = errno;
    // A file we may only read is still a usable, read-only hive.
    return {openErrno, ::access(file.c_str(), R_OK) == 0};
}

bool WantsWrite(REGSAM access) {
    return (access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0;
}

} // namespace

std::filesystem::path CRegistryHive::DefaultPath() {
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        base = std::filesystem::path(home) / ".config";
    } else {
        base = "/tmp";
    }
    return base / "OrvaneSrv" / "registry.db";
}

CRegistryHive::CRegistryHive(std::filesystem::path file) : m_path(std::move(file)) {}

CRegistryHive::~CRegistryHive() {
    Rollback();
    // Statements must be finalized before the connection closes.
    FinalizeStatements();
    sqlite3_close(m_db);
}

void CRegistryHive::FinalizeStatements() {
    for (CSqliteStatement* st :
         {&m_findKey, &m_insertKey, &m_upsertValue, &m_deleteValue, &m_enumValues}) {
        st->Finalize();
    }
}

LSTATUS CRegistryHive::Exec(const char* sql) {
    return Result(sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr));
}

void CRegistryHive::SetLockWait(std::chrono::milliseconds wait, std::function<void()> onWait) {
    m_lockWait = wait;
    m_onLockWait = std::move(onWait);
    m_bLockWaitNoticed = false;
}

int CRegistryHive::OnBusy(void* self, int count) {
    auto* hive = static_cast<CRegistryHive*>(self);
    const auto now = std::chrono::steady_clock::now();
    if (count == 0) {
        hive->m_busySince = now;
        if (hive->m_onLockWait && !hive->m_bLockWaitNoticed && hive->m_lockWait.count() > 0) {
            hive->m_bLockWaitNoticed = true;
            hive->m_onLockWait();
        }
    }
    const auto left = hive->m_lockWait - (now - hive->m_busySince);
    if (left <= std::chrono::steady_clock::duration::zero()) {
        return 0;
    }
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, kBusyStep));
    return 1;
}

LSTATUS CRegistryHive::Result(int rc) {
    const LSTATUS st = FromSqlite(rc);
    if (st != ERROR_SUCCESS) {
        m_strError = m_db != nullptr ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        const int sysErrno = m_db != nullptr ? sqlite3_system_errno(m_db) : 0;
        if (sysErrno != 0) {
            m_strError += std::string(" (") + std::strerror(sysErrno) + ")";
        }
    }
    return st;
}

LSTATUS CRegistryHive::FailConnect(int rc) {
    const LSTATUS st = Result(rc);
    const auto dir = m_path.parent_path();
    const int primary = rc & 0xFF;
    if ((primary == SQLITE_CANTOPEN || primary == SQLITE_READONLY) && !dir.empty() &&
        ::access(dir.c_str(), W_OK | X_OK) != 0) {
        m_strError += "; the folder " + dir.string() +
                      " does not let the store's side files (-wal, -shm) be made";
    }
    FinalizeStatements();
    sqlite3_close(m_db);
    m_db = nullptr;
    // A lock may be let go; anything else makes the file unusable for good.
    if (st != ERROR_LOCK_VIOLATION) {
        m_bConnectFailed = true;
        m_strConnectError = m_strError;
        return ERROR_ACCESS_DENIED;
    }
    return st;
}

LSTATUS CRegistryHive::Connect() {
    if (m_db != nullptr) {
        return ERROR_SUCCESS;
    }
    if (m_bConnectFailed) {
        m_strError = m_strConnectError;
        return ERROR_ACCESS_DENIED;
    }
    const CFileAccess file = EnsureFile(m_path);
    if (file.error != 0) {
        m_strError = m_strConnectError = std::strerror(file.error);
        if (!file.bReadOnly) {
            m_bConnectFailed = true;
            return ERROR_ACCESS_DENIED;
        }
    }
    NarrowPermissions(m_path);
    m_bReadOnly = file.bReadOnly;
    const int flags =
        (m_bReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_FULLMUTEX;
    int rc = sqlite3_open_v2(m_path.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        return FailConnect(rc);
    }
    sqlite3_busy_handler(m_db, &CRegistryHive::OnBusy, this);
    m_bReadOnly = m_bReadOnly || sqlite3_db_readonly(m_db, "main") == 1;
    // The first statements read the file: a file that is not a database, or a damaged one, and
    // side files that cannot be made, fail here.
    if (!m_bReadOnly) {
        rc = sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    }
    if (rc == SQLITE_OK) {
        rc = sqlite3_exec(m_db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    }
    if (rc == SQLITE_OK && !m_bReadOnly) {
        rc = sqlite3_exec(m_db, kSchema, nullptr, nullptr, nullptr);
    }
    if (rc == SQLITE_OK) {
        rc = PrepareStatements();
    }
    if (rc != SQLITE_OK) {
        return FailConnect(rc);
    }
    return ERROR_SUCCESS;
}

LSTATUS CRegistryHive::CheckIntegrity() {
    if (const LSTATUS st = Connect(); st != ERROR_SUCCESS) {
        return st;
    }
    CSqliteStatement check;
    if (const int rc = check.Prepare(m_db, "PRAGMA quick_check(1)"); rc != SQLITE_OK) {
        return Result(rc);
    }
    const int rc = check.Step();
    if (rc != SQLITE_ROW) {
        return Result(rc);
    }
    std::string verdict = check.ColumnText(0);
    if (verdict == "ok") {
        return ERROR_SUCCESS;
    }
    std::replace(verdict.begin(), verdict.end(), '\n', ' ');
    m_strError = "database disk image is malformed: " + verdict;
    return ERROR_REGISTRY_IO_FAILED;
}

int CRegistryHive::PrepareStatements() {
    const std::pair<CSqliteStatement*, const char*> statements[] = {
        {&m_findKey, "SELECT id FROM reg_keys WHERE path = ?1"},
        {&m_insertKey, "INSERT INTO reg_keys(path) VALUES(?1)"},
        {&m_upsertValue, "INSERT INTO reg_values(key_id, name, type, data) VALUES(?1, ?2, ?3, ?4) "
                         "ON CONFLICT(key_id, name) DO UPDATE SET type = excluded.type, "
                         "data = excluded.data"},
        {&m_deleteValue, "DELETE FROM reg_values WHERE key_id = ?1 AND name = ?2"},
        {&m_enumValues, "SELECT name, type, data FROM reg_values WHERE key_id = ?1 ORDER BY id"},
    };
    for (const auto& [stmt, sql] : statements) {
        if (const int rc = stmt->Prepare(m_db, sql); rc != SQLITE_OK) {
            return rc;
        }
    }
    return SQLITE_OK;
}

LSTATUS CRegistryHive::FindKey(std::string_view path, int64_t& id) {
    m_findKey.BindText(1, path);
    const int rc = m_findKey.Step();
    if (rc == SQLITE_ROW) {
        id = m_findKey.ColumnInt(0);
    }
    m_findKey.Reset();
    if (rc == SQLITE_ROW) {
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Result(rc);
}

LSTATUS CRegistryHive::InsertKey(std::string_view path, int64_t& id) {
    m_insertKey.BindText(1, path);
    const int rc = m_insertKey.Step();
    m_insertKey.Reset();
    if (rc != SQLITE_DONE) {
        return Result(rc);
    }
    id = sqlite3_last_insert_rowid(m_db);
    return ERROR_SUCCESS;
}

// Like the platform registry, creating a key creates the keys above it.
LSTATUS CRegistryHive::CreatePath(std::string_view path, int64_t& id) {
    for (std::size_t pos = 0;; ++pos) {
        pos = path.find('\\', pos);
        const std::string_view prefix = path.substr(0, pos);
        LSTATUS st = FindKey(prefix, id);
        if (st == ERROR_FILE_NOT_FOUND) {
            st = InsertKey(prefix, id);
        }
        if (st != ERROR_SUCCESS) {
            return st;
        }
        if (pos == std::string_view::npos) {
            break;
        }
    }
    return ERROR_SUCCESS;
}

LSTATUS CRegistryHive::Open(std::u16string_view path, REGSAM access, bool create,
                            CRegistryKey& out) {
    out.Close();
    if (const LSTATUS st = Connect(); st != ERROR_SUCCESS) {
        return st;
    }
    if (m_bReadOnly && (create || WantsWrite(access))) {
        return ERROR_ACCESS_DENIED;
    }
    const std::string utf8 = Utf16ToUtf8(path);
    int64_t id = 0;
    LSTATUS st = FindKey(utf8, id);
    if (st == ERROR_FILE_NOT_FOUND && create) {
        st = CreatePath(utf8, id);
    }
    if (st != ERROR_SUCCESS) {
        return st;
    }
    out.m_pHive = this;
    out.m_nKeyId = id;
    out.m_access = access;
    return ERROR_SUCCESS;
}

LSTATUS CRegistryHive::OpenKey(std::u16string_view path, REGSAM access, CRegistryKey& out) {
    return Open(path, access, false, out);
}

LSTATUS CRegistryHive::CreateKey(std::u16string_view path, REGSAM access, CRegistryKey& out) {
    return Open(path, access, true, out);
}

LSTATUS CRegistryHive::Begin() {
    m_strError.clear();
    if (const LSTATUS st = Connect(); st != ERROR_SUCCESS) {
        return st;
    }
    if (m_nTransactionDepth == 0) {
        if (const LSTATUS st = Exec("BEGIN IMMEDIATE"); st != ERROR_SUCCESS) {
            return st;
        }
    }
    ++m_nTransactionDepth;
    return ERROR_SUCCESS;
}

LSTATUS CRegistryHive::Commit() {
    if (m_nTransactionDepth == 0) {
        return ERROR_SUCCESS;
    }
    if (--m_nTransactionDepth > 0) {
        return ERROR_SUCCESS;
    }
    const LSTATUS st = Exec("COMMIT");
    if (st != ERROR_SUCCESS) {
        // SQLite may have ended the transaction already; either way nothing of it is kept.
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    return st;
}

void CRegistryHive::Rollback() {
    if (m_nTransactionDepth == 0) {
        return;
    }
    m_nTransactionDepth = 0;
    // Not recorded: the failure that led here is the one worth telling.
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}
