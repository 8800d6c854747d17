// The order and the filter a report-mode list shows its rows in: sorted by the column whose
// heading was clicked (columns of IPv4 addresses by number, the others by text, ties in the order
// the rows came), narrowed to the rows that hold the filter text in any column (any case). Rows
// that change or arrive later take their place at once, one by one, without a sort of the whole.
#pragma once

#include <QSortFilterProxyModel>
#include <vector>

class CRowsSortProxy : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit CRowsSortProxy(QObject* parent = nullptr);

    // The column holds dotted IPv4 addresses; they sort by number, other texts after them.
    void SetAddressColumn(int col);
    // The filter does not read the column (a time, whose digits would match most filters).
    void LeaveOutOfFilter(int col);

    // The value an address sorts by; texts that are no address get one above every address.
    static quint64 AddressKey(const QString& text);

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    std::vector<int> m_addressColumns;
    std::vector<int> m_unfilteredColumns;
};
