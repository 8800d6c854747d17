// Rows of text cells in display order: what a report-style list shows. Columns may be indexed, so
// that the first row holding a given text in that column is found without walking the rows, and
// many rows are deleted in one pass; lists of 10,000 rows stay fast.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CTextRows {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    explicit CTextRows(std::size_t nColumns);

    std::size_t RowCount() const { return m_rows.size(); }
    std::size_t ColumnCount() const { return m_nColumns; }

    const std::u16string& Cell(std::size_t row, std::size_t col) const;
    void SetCell(std::size_t row, std::size_t col, std::u16string text);

    // Appends a row; missing cells are empty, extra ones ignored. Answers its index.
    std::size_t AppendRow(std::vector<std::u16string> cells);
    // Deletes the rows given (any order, duplicates ignored) in one pass.
    void DeleteRows(std::span<const std::size_t> rows);
    void Clear();

    // Keeps an index of the column from now on.
    void IndexColumn(std::size_t col);
    // The first row whose cell in col equals text exactly, or npos. Fast for indexed columns.
    std::size_t FindRow(std::size_t col, std::u16string_view text) const;

private:
    using CIndex = std::unordered_map<std::u16string, std::vector<std::size_t>>; // rows ascending

    void Unindex(std::size_t row, std::size_t col);
    void Reindex(std::size_t row, std::size_t col);
    void RebuildIndexes();
    // After a deletion: newPlace[old row] is the row's new index, npos where it went.
    void RenumberIndexes(const std::vector<std::size_t>& newPlace);

    std::size_t m_nColumns;
    std::vector<std::vector<std::u16string>> m_rows;
    std::unordered_map<std::size_t, CIndex> m_indexes; // by column
};
