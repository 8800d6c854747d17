#include "platform/text/CTextRows.h"

#include <algorithm>
#include <iterator>

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

void CTextRows::DeleteRows(std::span<const std::size_t> rows) {
    // Where each row goes: npos for the deleted ones.
    std::vector<std::size_t> newPlace(m_rows.size(), 0);
    bool any = false;
    for (const std::size_t row : rows) {
        if (row < m_rows.size()) {
            newPlace[row] = npos;
            any = true;
        }
    }
    if (!any) {
        return;
    }
    std::size_t kept = 0;
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        if (newPlace[row] == npos) {
            continue;
        }
        newPlace[row] = kept;
        if (kept != row) {
            m_rows[kept] = std::move(m_rows[row]);
        }
        ++kept;
    }
    m_rows.resize(kept);
    RenumberIndexes(newPlace);
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

void CTextRows::RenumberIndexes(const std::vector<std::size_t>& newPlace) {
    // The row lists stay ascending: rows keep their order. No text is hashed or copied again,
    // so that a sweep made of many small deletions stays cheap on long lists.
    for (auto& [col, index] : m_indexes) {
        for (auto bucket = index.begin(); bucket != index.end();) {
            std::vector<std::size_t>& list = bucket->second;
            std::size_t out = 0;
            for (const std::size_t row : list) {
                if (newPlace[row] != npos) {
                    list[out++] = newPlace[row];
                }
            }
            list.resize(out);
            bucket = list.empty() ? index.erase(bucket) : std::next(bucket);
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
