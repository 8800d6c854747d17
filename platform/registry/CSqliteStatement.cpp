#include "platform/registry/CSqliteStatement.h"

#include <sqlite3.h>

CSqliteStatement::~CSqliteStatement() {
    Finalize();
}

void CSqliteStatement::Finalize() {
    sqlite3_finalize(m_pStmt);
    m_pStmt = nullptr;
}

int CSqliteStatement::Prepare(sqlite3* db, std::string_view sql) {
    Finalize();
    return sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &m_pStmt, nullptr);
}

void CSqliteStatement::BindInt(int index, int64_t value) {
    sqlite3_bind_int64(m_pStmt, index, value);
}

void CSqliteStatement::BindBlob(int index, std::span<const uint8_t> bytes) {
    // A zero-length blob must still be a blob, not NULL: pass a valid pointer.
    static const uint8_t kEmpty = 0;
    const void* data = bytes.empty() ? &kEmpty : bytes.data();
    sqlite3_bind_blob(m_pStmt, index, data, static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

void CSqliteStatement::BindText(int index, std::string_view text) {
    sqlite3_bind_text(m_pStmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

int CSqliteStatement::Step() {
    return sqlite3_step(m_pStmt);
}

void CSqliteStatement::Reset() {
    sqlite3_reset(m_pStmt);
    sqlite3_clear_bindings(m_pStmt);
}

int64_t CSqliteStatement::ColumnInt(int index) const {
    return sqlite3_column_int64(m_pStmt, index);
}

std::vector<uint8_t> CSqliteStatement::ColumnBlob(int index) const {
    const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(m_pStmt, index));
    const int n = sqlite3_column_bytes(m_pStmt, index);
    return p == nullptr ? std::vector<uint8_t>{} : std::vector<uint8_t>(p, p + n);
}

std::string CSqliteStatement::ColumnText(int index) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_pStmt, index));
    return p == nullptr ? std::string{} : std::string(p, sqlite3_column_bytes(m_pStmt, index));
}
