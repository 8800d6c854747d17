#include "platform/text/CTextRows.h"

#include <algorithm>

CTextRows::CTextRows(std::size_t nColumns) : m_nColumns(nColumns) {}

const std::u16string& CTextRows::Cell(std::size_t row, std::size_t col) const {
    return m_rows.at(row).at(col);
}

void CTextRows::Unindex(std::size_t row, std::size_t col) {
    auto index = m_indexes.find(col);
    if (index == m_indexes.end()) {
        return;
    }
    auto bucket = index->second.find(m_rows[row][col]);
    if (bucket == index->second.end()) {
        return;
    }
    auto& rows = bucket->second;
    rows.erase(std::remove(rows.begin(), rows.end(), row), rows.end());
    if (rows.empty()) {
        index->second.erase(bucket);
    }
}

void CTextRows::Reindex(std::size_t row, std::size_t col) {
    auto index = m_indexes.find(col);
    if (index == m_indexes.end()) {
        return;
    }
    auto& rows = index->second[m_rows[row][col]];
    rows.insert(std::upper_bound(rows.begin(), rows.end(), row), row);
}

void CTextRows::SetCell(std::size_t row, std::size_t col, std::u16string text) {
    if (row >= m_rows.size() || col >= m_nColumns) {
        return;
    }
    Unindex(row, col);
    m_rows[row][col] = std::move(text);
    Reindex(row, col);
}

std::size_t CTextRows::AppendRow(std::vector<std::u16string> cells) {
    cells.resize(m_nColumns);
    m_rows.push_back(std::move(cells));
    const std::size_t row = m_rows.size() - 1;
    for (const auto& [col, index] : m_indexes) {
        Reindex(row, col);
    }
    return row;
}

void CTextRows::DeleteRow(std::size_t row) {
    DeleteRows(std::span<const std::size_t>(&row, 1));
}

void CTextRows::DeleteRows(std::span<const std::size_t> rows) {
    std::vector<bool> doomed(m_rows.size(), false);
    bool any = false;
    for (const std::size_t row : rows) {
        if (row < m_rows.size()) {
            doomed[row] = true;
            any = true;
        }
    }
    if (!any) {
        return;
    }
    std::size_t kept = 0;
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        if (!doomed[row]) {
            if (kept != row) {
                m_rows[kept] = std::move(m_rows[row]);
            }
            ++kept;
        }
    }
    m_rows.resize(kept);
    RebuildIndexes();
}

void CTextRows::Clear() {
    m_rows.clear();
    RebuildIndexes();
}

void CTextRows::IndexColumn(std::size_t col) {
    if (col < m_nColumns && !m_indexes.contains(col)) {
        m_indexes[col];
        for (std::size_t row = 0; row < m_rows.size(); ++row) {
            Reindex(row, col);
        }
    }
}

void CTextRows::RebuildIndexes() {
    for (auto& [col, index] : m_indexes) {
        index.clear();
        for (std::size_t row = 0; row < m_rows.size(); ++row) {
            index[m_rows[row][col]].push_back(row);
        }
    }
}

std::size_t CTextRows::FindRow(std::size_t col, std::u16string_view text) const {
    if (col >= m_nColumns) {
        return npos;
    }
    if (auto index = m_indexes.find(col); index != m_indexes.end()) {
        auto bucket = index->second.find(std::u16string(text));
        return bucket == index->second.end() ? npos : bucket->second.front();
    }
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        if (m_rows[row][col] == text) {
            return row;
        }
    }
    return npos;
}
