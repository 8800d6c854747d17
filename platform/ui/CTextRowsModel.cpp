#include "platform/ui/CTextRowsModel.h"

#include "platform/text/TextEscape.h"

#include <QApplication>
#include <QStyle>
#include <algorithm>
#include <iterator>
#include <numeric>

namespace {

// Beyond this many separate runs, one reset is cheaper for the views than a removal per run.
constexpr std::size_t kMaxRemovalRuns = 32;

} // namespace

CTextRowsModel::CTextRowsModel(QObject* parent) : QAbstractTableModel(parent) {}

bool CTextRowsModel::AppendColumn(const QString& heading, Qt::Alignment alignment) {
    if (m_rows.RowCount() != 0) {
        return false;
    }
    const int col = static_cast<int>(m_columns.size());
    beginInsertColumns(QModelIndex(), col, col);
    m_columns.push_back({heading, alignment});
    m_rows = CTextRows(m_columns.size());
    for (std::size_t indexed : m_indexedColumns) {
        m_rows.IndexColumn(indexed);
    }
    endInsertColumns();
    return true;
}

void CTextRowsModel::SetCheckBoxes(bool bOn) {
    m_bCheckBoxes = bOn;
    m_checked.assign(m_rows.RowCount(), 0);
    if (m_rows.RowCount() != 0) {
        emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
    }
}

void CTextRowsModel::IndexColumn(std::size_t col) {
    if (col < m_columns.size()) {
        m_rows.IndexColumn(col);
        m_indexedColumns.push_back(col);
    }
}

const std::u16string& CTextRowsModel::Cell(std::size_t row, std::size_t col) const {
    return m_rows.Cell(row, col);
}

void CTextRowsModel::SetCell(std::size_t row, std::size_t col, std::u16string_view text) {
    if (row >= m_rows.RowCount() || col >= m_columns.size() || m_rows.Cell(row, col) == text) {
        return;
    }
    m_rows.SetCell(row, col, std::u16string(text));
    const QModelIndex changed = index(static_cast<int>(row), static_cast<int>(col));
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

std::size_t CTextRowsModel::AppendRow(std::vector<std::u16string> cells) {
    const int row = static_cast<int>(m_rows.RowCount());
    beginInsertRows(QModelIndex(), row, row);
    const std::size_t added = m_rows.AppendRow(std::move(cells));
    if (m_bCheckBoxes) {
        m_checked.push_back(0);
    }
    endInsertRows();
    return added;
}

std::vector<std::pair<std::size_t, std::size_t>>
CTextRowsModel::RunsFromTheEnd(std::span<const std::size_t> rows) {
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    for (std::size_t row : rows) {
        if (!runs.empty() && runs.back().first + runs.back().second == row) {
            ++runs.back().second;
        } else {
            runs.emplace_back(row, 1);
        }
    }
    std::reverse(runs.begin(), runs.end());
    return runs;
}

bool CTextRowsModel::DeleteRows(std::span<const std::size_t> rows) {
    std::vector<std::size_t> valid;
    std::ranges::copy_if(rows, std::back_inserter(valid),
                         [this](std::size_t row) { return row < m_rows.RowCount(); });
    std::ranges::sort(valid);
    valid.erase(std::unique(valid.begin(), valid.end()), valid.end());
    const auto runs = RunsFromTheEnd(valid);
    if (runs.empty()) {
        return false;
    }
    auto eraseChecks = [this](std::size_t first, std::size_t count) {
        if (m_bCheckBoxes) {
            const auto begin = m_checked.begin() + static_cast<std::ptrdiff_t>(first);
            m_checked.erase(begin, begin + static_cast<std::ptrdiff_t>(count));
        }
    };
    if (runs.size() <= kMaxRemovalRuns) {
        for (const auto& [first, count] : runs) {
            beginRemoveRows(QModelIndex(), static_cast<int>(first),
                            static_cast<int>(first + count - 1));
            std::vector<std::size_t> run(count);
            std::iota(run.begin(), run.end(), first);
            m_rows.DeleteRows(run);
            eraseChecks(first, count);
            endRemoveRows();
        }
        return false;
    }
    // Many scattered rows: one reset is cheaper than a removal per run.
    beginResetModel();
    m_rows.DeleteRows(valid);
    for (const auto& [first, count] : runs) {
        eraseChecks(first, count);
    }
    endResetModel();
    return true;
}

void CTextRowsModel::Clear() {
    beginResetModel();
    m_rows.Clear();
    m_checked.clear();
    endResetModel();
}

std::size_t CTextRowsModel::FindRow(std::size_t col, std::u16string_view text) const {
    return col < m_columns.size() ? m_rows.FindRow(col, text) : CTextRows::npos;
}

bool CTextRowsModel::Checked(std::size_t row) const {
    return m_bCheckBoxes && row < m_checked.size() && m_checked[row] != 0;
}

void CTextRowsModel::SetChecked(std::size_t row, bool bChecked) {
    if (!m_bCheckBoxes || row >= m_checked.size() || (m_checked[row] != 0) == bChecked) {
        return;
    }
    m_checked[row] = bChecked ? 1 : 0;
    const QModelIndex changed = index(static_cast<int>(row), 0);
    emit dataChanged(changed, changed, {Qt::CheckStateRole});
}

int CTextRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.RowCount());
}

int CTextRowsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

void CTextRowsModel::RefreshRow(std::size_t row) {
    if (row < m_rows.RowCount()) {
        const QModelIndex first = index(static_cast<int>(row), 0);
        const QModelIndex last = index(static_cast<int>(row), columnCount() - 1);
        emit dataChanged(first, last, {Qt::DisplayRole, Qt::DecorationRole, Qt::ToolTipRole});
    }
}

QVariant CTextRowsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= m_rows.RowCount() ||
        static_cast<std::size_t>(index.column()) >= m_columns.size()) {
        return {};
    }
    const auto row = static_cast<std::size_t>(index.row());
    const auto col = static_cast<std::size_t>(index.column());
    switch (role) {
    case Qt::DisplayRole: {
        std::u16string text = ShowControls(m_rows.Cell(row, col));
        if (col == m_nBadgeColumn && m_rowNote) {
            if (const CRowNote note = m_rowNote(row); !note.strBadge.empty()) {
                text = note.strBadge + u"  " + text; // first, so that it is never cut off
            }
        }
        return QString::fromStdU16String(text);
    }
    case Qt::DecorationRole:
    case Qt::ToolTipRole: {
        // The tip on every cell of the row, the icon before its first.
        const CRowNote note =
            m_rowNote && (col == 0 || role == Qt::ToolTipRole) ? m_rowNote(row) : CRowNote();
        if (note.strTip.empty()) {
            return {};
        }
        if (role == Qt::ToolTipRole) {
            return QString::fromStdU16String(note.strTip);
        }
        return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    }
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(m_columns[col].alignment | Qt::AlignVCenter);
    case Qt::CheckStateRole:
        if (m_bCheckBoxes && col == 0) {
            return Checked(row) ? Qt::Checked : Qt::Unchecked;
        }
        return {};
    default:
        return {};
    }
}

bool CTextRowsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !m_bCheckBoxes || !index.isValid() || index.column() != 0) {
        return false;
    }
    SetChecked(static_cast<std::size_t>(index.row()), value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

QVariant CTextRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 ||
        static_cast<std::size_t>(section) >= m_columns.size()) {
        return {};
    }
    const CColumn& column = m_columns[static_cast<std::size_t>(section)];
    if (role == Qt::DisplayRole) {
        return column.heading;
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(column.alignment | Qt::AlignVCenter);
    }
    return {};
}

Qt::ItemFlags CTextRowsModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (m_bCheckBoxes && index.column() == 0) {
        f |= Qt::ItemIsUserCheckable;
    }
    return f;
}
