#include "platform/ui/CListBox.h"

#include <QItemSelectionModel>
#include <algorithm>

CListBox::CListBox(bool bMultiToggle, QWidget* parent) : QListView(parent), m_model(false, this) {
    setModel(&m_model);
    setSelectionMode(bMultiToggle ? QAbstractItemView::MultiSelection
                                  : QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!m_bQuiet) {
            emit SelChange();
        }
    });
}

void CListBox::DeleteString(std::size_t index) {
    if (index >= m_model.Count()) {
        return;
    }
    std::vector<std::size_t> kept;
    for (const std::size_t sel : GetSelItems()) {
        if (sel != index) {
            kept.push_back(sel > index ? sel - 1 : sel);
        }
    }
    // The view would select a neighbour of a removed selected entry, and report it.
    m_bQuiet = true;
    m_model.Remove(index);
    selectionModel()->clearSelection();
    for (const std::size_t sel : kept) {
        selectionModel()->select(m_model.index(static_cast<int>(sel)), QItemSelectionModel::Select);
    }
    m_bQuiet = false;
}

std::size_t CListBox::GetCurSel() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? npos : static_cast<std::size_t>(selected.front().row());
}

void CListBox::SetCurSel(std::size_t index) {
    m_bQuiet = true;
    if (index < m_model.Count()) {
        const QModelIndex item = m_model.index(static_cast<int>(index));
        selectionModel()->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect);
    } else {
        selectionModel()->clearSelection();
    }
    m_bQuiet = false;
}

std::vector<std::size_t> CListBox::GetSelItems() const {
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : selectionModel()->selectedIndexes()) {
        rows.push_back(static_cast<std::size_t>(index.row()));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CListBox::SetSel(std::size_t index, bool bSelected) {
    if (index >= m_model.Count()) {
        return;
    }
    m_bQuiet = true;
    selectionModel()->select(m_model.index(static_cast<int>(index)),
                             bSelected ? QItemSelectionModel::Select
                                       : QItemSelectionModel::Deselect);
    m_bQuiet = false;
}
