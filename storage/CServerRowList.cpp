// The server list on plain text rows, with the selection kept in step with deletions.
#include "storage/CServerRowList.h"

#include <algorithm>

namespace {

std::size_t Col(EServerColumn col) {
    return static_cast<std::size_t>(col);
}

} // namespace

CServerRowList::CServerRowList() : m_rows(kServerColumnCount) {
    m_rows.IndexColumn(Col(EServerColumn::MAC));
    m_rows.IndexColumn(Col(EServerColumn::IPAddr));
}

std::size_t CServerRowList::RowCount() const {
    return m_rows.RowCount();
}

std::u16string CServerRowList::CellText(std::size_t row, EServerColumn col) const {
    if (row >= m_rows.RowCount()) {
        return {};
    }
    return m_rows.Cell(row, Col(col));
}

void CServerRowList::SetCellText(std::size_t row, EServerColumn col, std::u16string_view text) {
    m_rows.SetCell(row, Col(col), std::u16string(text));
}

std::size_t CServerRowList::AppendRow(std::u16string_view ip) {
    return m_rows.AppendRow({std::u16string(ip)});
}

void CServerRowList::DeleteRows(std::span<const std::size_t> rows) {
    if (m_nSelected != npos) {
        if (std::find(rows.begin(), rows.end(), m_nSelected) != rows.end()) {
            m_nSelected = npos;
        } else {
            m_nSelected -= static_cast<std::size_t>(std::count_if(
                rows.begin(), rows.end(), [&](std::size_t r) { return r < m_nSelected; }));
        }
    }
    m_rows.DeleteRows(rows);
}

std::size_t CServerRowList::FindRow(EServerColumn col, std::u16string_view text) const {
    return m_rows.FindRow(Col(col), text);
}

void CServerRowList::SelectAndFocus(std::size_t row) {
    m_nSelected = row < m_rows.RowCount() ? row : npos;
}
