#include "platform/ui/CListCtrl.h"

#include "platform/ui/CRowsSortProxy.h"
#include "platform/ui/NewChild.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <algorithm>
#include <array>

namespace {

// Rows as tall as the text plus a little air, as report lists have always drawn them.
constexpr int kRowPadding = 4;
constexpr int kHeaderPadding = 6;

Qt::Alignment ToQt(EColumnAlign align) {
    // In the order of EColumnAlign.
    constexpr std::array kAlignments = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight};
    return kAlignments.at(static_cast<std::size_t>(align));
}

} // namespace

CListCtrl::CListCtrl(QWidget* parent) : QTableView(parent), m_model(this) {
    setModel(&m_model);
    setSortingEnabled(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab moves on to the next control; the arrow keys move within the list.
    setTabKeyNavigation(false);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setShowGrid(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setTextElideMode(Qt::ElideRight);

    const int textHeight = fontMetrics().height();
    QHeaderView* rows = verticalHeader();
    rows->hide();
    // Fixed, uniform row heights keep layout work independent of the number of rows.
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(textHeight + kRowPadding);

    QHeaderView* columns = horizontalHeader();
    columns->setSectionsClickable(false);
    columns->setSortIndicatorShown(false);
    columns->setHighlightSections(false);
    columns->setStretchLastSection(false);
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setFixedHeight(textHeight + kHeaderPadding);
    // An empty strip of heading reads as a fault; it shows with the first column.
    columns->hide();

    m_repaintTimer.setSingleShot(true);
    m_repaintTimer.setInterval(kRepaintPeriod);
    connect(&m_repaintTimer, &QTimer::timeout, this, &CListCtrl::PaintNow);
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, &CListCtrl::OnModelChanged);
    connect(&m_model, &QAbstractItemModel::rowsRemoved, this, &CListCtrl::OnModelChanged);
    connect(&m_model, &QAbstractItemModel::dataChanged, this, &CListCtrl::OnModelChanged);
    connect(&m_model, &QAbstractItemModel::modelReset, this, &CListCtrl::OnModelChanged);
}

void CListCtrl::SetSortable(std::span<const int> addressColumns) {
    if (m_pProxy != nullptr) {
        return;
    }
    m_pProxy = NewChild<CRowsSortProxy>(this);
    for (const int col : addressColumns) {
        m_pProxy->SetAddressColumn(col);
    }
    m_pProxy->setSourceModel(&m_model);
    QItemSelectionModel* previous = selectionModel();
    setModel(m_pProxy);
    previous->deleteLater(); // the view made a new one and leaves the old to its maker

    QHeaderView* columns = horizontalHeader();
    columns->setSectionsClickable(true);
    columns->setSortIndicatorShown(true);
    // No column yet: the rows keep the order they came in until a heading is clicked.
    columns->setSortIndicator(-1, Qt::AscendingOrder);
    setSortingEnabled(true);
}

void CListCtrl::SetFilterText(const QString& text) {
    if (m_pProxy != nullptr) {
        m_pProxy->setFilterFixedString(text);
    }
}

void CListCtrl::LeaveOutOfFilter(int col) {
    if (m_pProxy != nullptr) {
        m_pProxy->LeaveOutOfFilter(col);
    }
}

std::size_t CListCtrl::GetShownCount() const {
    return static_cast<std::size_t>(model()->rowCount());
}

std::size_t CListCtrl::RowAtViewPlace(std::size_t place) const {
    if (place >= GetShownCount()) {
        return npos;
    }
    return RowOf(model()->index(static_cast<int>(place), 0));
}

QModelIndex CListCtrl::ViewIndex(std::size_t row, int col) const {
    const QModelIndex index = m_model.index(static_cast<int>(row), col);
    return m_pProxy != nullptr ? m_pProxy->mapFromSource(index) : index;
}

std::size_t CListCtrl::RowOf(const QModelIndex& viewIndex) const {
    const QModelIndex index = m_pProxy != nullptr ? m_pProxy->mapToSource(viewIndex) : viewIndex;
    return index.isValid() ? static_cast<std::size_t>(index.row()) : npos;
}

void CListCtrl::OnModelChanged() {
    // A stream of single changes, each in an event loop pass of its own, would otherwise cost
    // a whole paint each: the window thread would spend its time painting and every worker
    // waiting on it would wait for the paints too.
    const bool bStream =
        m_sinceChange.isValid() && m_sinceChange.elapsed() < kRepaintPeriod.count();
    m_sinceChange.start();
    if (bStream && !m_bPaced) {
        m_bPaced = true;
        setUpdatesEnabled(false);
        m_repaintTimer.start();
    }
}

void CListCtrl::PaintNow() {
    if (!m_bPaced) {
        return;
    }
    m_repaintTimer.stop();
    m_bPaced = false;
    setUpdatesEnabled(true);
    update();
    viewport()->update();
}

bool CListCtrl::InsertColumn(const QString& heading, EColumnAlign align, int nWidth) {
    if (!m_model.AppendColumn(heading, ToQt(align))) {
        return false;
    }
    setColumnWidth(static_cast<int>(m_model.ColumnCount() - 1), nWidth);
    horizontalHeader()->show();
    return true;
}

void CListCtrl::SetFullRowSelect(bool bOn) {
    setSelectionBehavior(bOn ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
}

void CListCtrl::SetSingleSelection(bool bSingle) {
    setSelectionMode(bSingle ? QAbstractItemView::SingleSelection
                             : QAbstractItemView::ExtendedSelection);
}

void CListCtrl::DeleteItems(std::span<const std::size_t> rows) {
    // Remember what a reset would lose, by the rows' places after the deletion.
    const std::vector<std::size_t> selected = GetSelectedRows();
    const std::size_t focus = GetFocusRow();
    std::vector<std::size_t> gone(rows.begin(), rows.end());
    std::sort(gone.begin(), gone.end());
    gone.erase(std::unique(gone.begin(), gone.end()), gone.end());
    auto newPlace = [&gone](std::size_t row) {
        if (std::binary_search(gone.begin(), gone.end(), row)) {
            return npos;
        }
        return row - static_cast<std::size_t>(std::lower_bound(gone.begin(), gone.end(), row) -
                                              gone.begin());
    };
    if (!m_model.DeleteRows(rows)) {
        return;
    }
    // One range per run of rows adjacent in the view: the selection model compares and walks its
    // ranges pairwise, so a range per row would make every later selection change quadratic.
    std::vector<int> kept;
    kept.reserve(selected.size());
    for (std::size_t row : selected) {
        if (const std::size_t now = newPlace(row); now != npos) {
            if (const QModelIndex shown = ViewIndex(now); shown.isValid()) {
                kept.push_back(shown.row());
            }
        }
    }
    std::sort(kept.begin(), kept.end());
    QItemSelection keep;
    const int lastColumn = m_model.columnCount() - 1;
    for (std::size_t first = 0; first < kept.size();) {
        std::size_t last = first;
        while (last + 1 < kept.size() && kept[last + 1] == kept[last] + 1) {
            ++last;
        }
        keep.select(model()->index(kept[first], 0), model()->index(kept[last], lastColumn));
        first = last + 1;
    }
    selectionModel()->select(keep, QItemSelectionModel::ClearAndSelect);
    if (focus != npos && newPlace(focus) != npos) {
        SetFocusRow(newPlace(focus));
    }
}

std::u16string CListCtrl::GetItemText(std::size_t row, std::size_t col) const {
    if (row >= m_model.RowCount() || col >= m_model.ColumnCount()) {
        return {};
    }
    return m_model.Cell(row, col);
}

std::vector<std::size_t> CListCtrl::GetSelectedRows() const {
    std::vector<std::size_t> rows;
    // Row by row: mapping whole ranges through the proxy would map every cell.
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        for (int r = range.top(); r <= range.bottom(); ++r) {
            rows.push_back(RowOf(model()->index(r, 0)));
        }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void CListCtrl::SetSelected(std::size_t row, bool bSelected) {
    if (row >= m_model.RowCount()) {
        return;
    }
    const QModelIndex index = ViewIndex(row);
    if (!index.isValid()) {
        return; // filtered out
    }
    selectionModel()->select(
        index, (bSelected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                   QItemSelectionModel::Rows);
}

void CListCtrl::SetFocusRow(std::size_t row) {
    if (row < m_model.RowCount()) {
        selectionModel()->setCurrentIndex(ViewIndex(row), QItemSelectionModel::NoUpdate);
    }
}

std::size_t CListCtrl::GetFocusRow() const {
    return RowOf(selectionModel()->currentIndex());
}
