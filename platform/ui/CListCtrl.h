// A list in report mode: columns with a heading, an alignment and a width in pixels, optional grid
// lines, whole-row selection and check boxes, single or multiple selection. Rows are appended and
// deleted by index; columns that are searched often can be indexed. Backed by a CTextRowsModel, so
// that 10,000 rows stay fast. Changes that come in a stream (rows reported one at a time by a
// worker) are painted together, at most every kRepaintPeriod; a change that comes alone is
// painted at once. A sortable list sorts by the column whose heading is clicked and
// can be narrowed by a filter text; rows keep their indexes (the order they came in) throughout,
// only the view shows them otherwise. Tab leaves the list instead of walking its cells.
#pragma once

#include "platform/ui/CTextRowsModel.h"

#include <QElapsedTimer>
#include <QTableView>
#include <QTimer>
#include <chrono>
#include <span>
#include <string>
#include <vector>

enum class EColumnAlign { Left, Center, Right };

class CListCtrl : public QTableView {
    Q_OBJECT
public:
    static constexpr std::size_t npos = CTextRows::npos;
    static constexpr std::chrono::milliseconds kRepaintPeriod{40};

    explicit CListCtrl(QWidget* parent = nullptr);

    // Columns are appended, before the first row.
    bool InsertColumn(const QString& heading, EColumnAlign align, int nWidth);
    void SetGridLines(bool bOn) { setShowGrid(bOn); }
    void SetFullRowSelect(bool bOn);
    void SetCheckBoxes(bool bOn) { m_model.SetCheckBoxes(bOn); }
    void SetSingleSelection(bool bSingle);
    void IndexColumn(std::size_t col) { m_model.IndexColumn(col); }
    // Sorting by a click on a heading, and the filter; the rows stay in their order until then.
    // addressColumns hold IPv4 addresses, which sort by number.
    void SetSortable(std::span<const int> addressColumns);
    // Shows only the rows holding text in some column (any case); empty shows every row.
    void SetFilterText(const QString& text);
    // The filter does not read the column; only once sortable.
    void LeaveOutOfFilter(int col);
    // How many rows the view shows (all of them unless a filter hides some).
    std::size_t GetShownCount() const;
    // The row shown at place i of the view, top first.
    std::size_t RowAtViewPlace(std::size_t place) const;

    std::size_t GetItemCount() const { return m_model.RowCount(); }
    // Appends a row with text in column 0; answers its index.
    std::size_t AppendItem(std::u16string_view text) {
        return m_model.AppendRow({std::u16string(text)});
    }
    std::size_t AppendItem(std::vector<std::u16string> cells) {
        return m_model.AppendRow(std::move(cells));
    }
    // Deletes the rows given (any order); the selection of the rows that stay is kept.
    void DeleteItems(std::span<const std::size_t> rows);
    void DeleteAllItems() { m_model.Clear(); }
    std::u16string GetItemText(std::size_t row, std::size_t col) const;
    void SetItemText(std::size_t row, std::size_t col, std::u16string_view text) {
        m_model.SetCell(row, col, text);
    }
    std::size_t FindItem(std::size_t col, std::u16string_view text) const {
        return m_model.FindRow(col, text);
    }

    // A warning icon and tip on a row: see CTextRowsModel::SetRowNote.
    void SetRowNote(std::function<CTextRowsModel::CRowNote(std::size_t row)> note,
                    std::size_t badgeColumn) {
        m_model.SetRowNote(std::move(note), badgeColumn);
    }
    void RefreshRowNote(std::size_t row) { m_model.RefreshRow(row); }

    bool GetCheck(std::size_t row) const { return m_model.Checked(row); }
    void SetCheck(std::size_t row, bool bChecked) { m_model.SetChecked(row, bChecked); }

    // Selected rows, ascending.
    std::vector<std::size_t> GetSelectedRows() const;
    // Adds the row to the selection (or takes it away) without touching the others.
    void SetSelected(std::size_t row, bool bSelected);
    // Makes the row the focused (current) one, leaving the selection as it is.
    void SetFocusRow(std::size_t row);
    std::size_t GetFocusRow() const;

    // True while a stream of changes is held back from painting. Such a list renders blank when
    // grabbed as a picture; PaintNow ends the wait at once.
    bool IsPaintHeldBack() const { return m_bPaced; }
    void PaintNow();

private:
    void OnModelChanged();
    QModelIndex ViewIndex(std::size_t row, int col = 0) const;
    std::size_t RowOf(const QModelIndex& viewIndex) const;

    CTextRowsModel m_model;
    class CRowsSortProxy* m_pProxy = nullptr; // owned by the list; none until sortable
    QElapsedTimer m_sinceChange;
    QTimer m_repaintTimer;
    bool m_bPaced = false; // updates held back until the repaint timer fires
};
