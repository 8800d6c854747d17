// The model behind a report-mode list: rows of text cells kept in a CTextRows (so that indexed
// columns are searched without walking the rows and many rows go in one pass), column headings
// and alignments, and a check state per row when the list shows check boxes.
#pragma once

#include "platform/text/CTextRows.h"

#include <QAbstractTableModel>
#include <QString>
#include <functional>
#include <span>
#include <string>
#include <vector>

class CTextRowsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit CTextRowsModel(QObject* parent = nullptr);

    // Columns can be added only while the model has no rows.
    bool AppendColumn(const QString& heading, Qt::Alignment alignment);
    void SetCheckBoxes(bool bOn);
    void IndexColumn(std::size_t col);

    std::size_t RowCount() const { return m_rows.RowCount(); }
    std::size_t ColumnCount() const { return m_columns.size(); }
    const std::u16string& Cell(std::size_t row, std::size_t col) const;
    void SetCell(std::size_t row, std::size_t col, std::u16string_view text);
    std::size_t AppendRow(std::vector<std::u16string> cells);
    // Deletes the rows given (any order, duplicates ignored, out-of-range ones skipped). A few
    // runs of rows are removed run by run, which keeps the views' selection of the rows that
    // stay; many scattered rows reset the model in one go, and then it answers true: the views
    // have lost their selection and current row.
    bool DeleteRows(std::span<const std::size_t> rows);
    void Clear();
    std::size_t FindRow(std::size_t col, std::u16string_view text) const;
    // A note on a row: a warning icon before its first cell, strTip as the tip of its cells,
    // and strBadge before the text of the badge column. Nothing when strTip is empty. Set once;
    // RefreshRow shows a changed note.
    struct CRowNote {
        std::u16string strTip;
        std::u16string strBadge;
    };
    void SetRowNote(std::function<CRowNote(std::size_t row)> note, std::size_t badgeColumn) {
        m_rowNote = std::move(note);
        m_nBadgeColumn = badgeColumn;
    }
    void RefreshRow(std::size_t row);
    bool Checked(std::size_t row) const;
    void SetChecked(std::size_t row, bool bChecked);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct CColumn {
        QString heading;
        Qt::Alignment alignment;
    };

    // Contiguous runs of ascending, distinct rows, as (first, count), last run first.
    static std::vector<std::pair<std::size_t, std::size_t>>
    RunsFromTheEnd(std::span<const std::size_t> rows);

    std::vector<CColumn> m_columns;
    std::vector<std::size_t> m_indexedColumns;
    CTextRows m_rows{0};
    std::vector<char> m_checked; // per row, when check boxes are on
    std::function<CRowNote(std::size_t row)> m_rowNote;
    std::size_t m_nBadgeColumn = 0;
    bool m_bCheckBoxes = false;
};
