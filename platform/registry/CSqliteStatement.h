// A prepared SQLite statement that finalizes itself, with the few bind and column calls the
// registry needs. Reset after each use so that it can be run again.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

class CSqliteStatement {
public:
    CSqliteStatement() = default;
    ~CSqliteStatement();
    CSqliteStatement(const CSqliteStatement&) = delete;
    CSqliteStatement& operator=(const CSqliteStatement&) = delete;

    // Answers the SQLite result code of preparing it.
    int Prepare(sqlite3* db, std::string_view sql);
    void Finalize();

    void BindInt(int index, int64_t value);
    void BindBlob(int index, std::span<const uint8_t> bytes);
    void BindText(int index, std::string_view text);

    int Step(); // SQLITE_ROW, SQLITE_DONE or an error code
    void Reset();

    int64_t ColumnInt(int index) const;
    std::vector<uint8_t> ColumnBlob(int index) const;
    std::string ColumnText(int index) const;

private:
    sqlite3_stmt* m_pStmt = nullptr;
};
