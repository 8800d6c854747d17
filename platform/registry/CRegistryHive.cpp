#include "platform/registry/CRegistryHive.h"

#include "platform/io/CUniqueFd.h"
#include "platform/registry/CRegistryKey.h"
#include "platform/text/TextConv.h"

#include <cstdlib>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
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
    default:
        return ERROR_REGISTRY_IO_FAILED;
    }
}

// The file is created before SQLite opens it, so that it never exists with looser permissions.
bool EnsureFile(const std::filesystem::path& file) {
    std::error_code ec;
    const auto dir = file.parent_path();
    if (!dir.empty() && !std::filesystem::exists(dir, ec)) {
        std::filesystem::create_directories(dir, ec);
        if (ec) {
            return false;
        }
        ::chmod(dir.c_str(), 0700);
    }
    if (CUniqueFd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))) {
        return true;
    }
    // A file we may only read is still a usable, read-only hive.
    return ::access(file.c_str(), R_OK) == 0;
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
    if (m_nTransactionDepth > 0) {
        Exec("ROLLBACK");
    }
    // Statements must be finalized before the connection closes.
    FinalizeStatements();
    sqlite3_close(m_db);
}

void CRegistryHive::FinalizeStatements() {
    for (CSqliteStatement* st :
         {&m_findKey, &m_insertKey, &m_upsertValue, &m_deleteValue, &m_queryValue, &m_enumValues}) {
        st->Finalize();
    }
}

LSTATUS CRegistryHive::Exec(const char* sql) {
    return FromSqlite(sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr));
}

LSTATUS CRegistryHive::Connect() {
    if (m_db != nullptr) {
        return ERROR_SUCCESS;
    }
    if (m_bConnectFailed) {
        return ERROR_ACCESS_DENIED;
    }
    sqlite3* db = nullptr;
    int rc = SQLITE_CANTOPEN;
    if (EnsureFile(m_path)) {
        rc = sqlite3_open_v2(m_path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                             nullptr);
    }
    if (rc != SQLITE_OK) {
        sqlite3_close(db);
        m_bConnectFailed = true;
        return ERROR_ACCESS_DENIED;
    }
    m_db = db;
    sqlite3_busy_timeout(m_db, 5000);
    m_bReadOnly = sqlite3_db_readonly(m_db, "main") == 1;
    if (!m_bReadOnly) {
        Exec("PRAGMA journal_mode=WAL");
    }
    Exec("PRAGMA synchronous=FULL");
    LSTATUS st = m_bReadOnly ? ERROR_SUCCESS : Exec(kSchema);
    if (st == ERROR_SUCCESS) {
        st = PrepareStatements();
    }
    if (st != ERROR_SUCCESS) {
        // Not a registry we can use (not a database, or damaged): fail every call.
        FinalizeStatements();
        sqlite3_close(m_db);
        m_db = nullptr;
        m_bConnectFailed = true;
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

LSTATUS CRegistryHive::PrepareStatements() {
    const std::pair<CSqliteStatement*, const char*> statements[] = {
        {&m_findKey, "SELECT id FROM reg_keys WHERE path = ?1"},
        {&m_insertKey, "INSERT INTO reg_keys(path) VALUES(?1)"},
        {&m_upsertValue, "INSERT INTO reg_values(key_id, name, type, data) VALUES(?1, ?2, ?3, ?4) "
                         "ON CONFLICT(key_id, name) DO UPDATE SET type = excluded.type, "
                         "data = excluded.data"},
        {&m_deleteValue, "DELETE FROM reg_values WHERE key_id = ?1 AND name = ?2"},
        {&m_queryValue, "SELECT data FROM reg_values WHERE key_id = ?1 AND name = ?2"},
        {&m_enumValues, "SELECT name, type, data FROM reg_values WHERE key_id = ?1 ORDER BY id"},
    };
    for (const auto& [stmt, sql] : statements) {
        if (const int rc = stmt->Prepare(m_db, sql); rc != SQLITE_OK) {
            return FromSqlite(rc);
        }
    }
    return ERROR_SUCCESS;
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
    return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : FromSqlite(rc);
}

LSTATUS CRegistryHive::InsertKey(std::string_view path, int64_t& id) {
    m_insertKey.BindText(1, path);
    const int rc = m_insertKey.Step();
    m_insertKey.Reset();
    if (rc != SQLITE_DONE) {
        return FromSqlite(rc);
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
        Exec("ROLLBACK");
    }
    return st;
}

void CRegistryHive::Rollback() {
    if (m_nTransactionDepth == 0) {
        return;
    }
    m_nTransactionDepth = 0;
    Exec("ROLLBACK");
}
