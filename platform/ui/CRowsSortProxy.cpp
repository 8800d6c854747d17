#include "platform/ui/CRowsSortProxy.h"

#include <algorithm>

namespace {

constexpr int kOctets = 4;
constexpr int kOctetMax = 255;
constexpr int kOctetBits = 8;
// Above every 32-bit address: a text that is no address sorts after the addresses.
constexpr quint64 kNoAddress = quint64{1} << 32;

} // namespace

CRowsSortProxy::CRowsSortProxy(QObject* parent) : QSortFilterProxyModel(parent) {
    setDynamicSortFilter(true);
    setFilterKeyColumn(-1);
    setFilterCaseSensitivity(Qt::CaseInsensitive);
    setSortCaseSensitivity(Qt::CaseInsensitive);
}

void CRowsSortProxy::SetAddressColumn(int col) {
    m_addressColumns.push_back(col);
}

void CRowsSortProxy::LeaveOutOfFilter(int col) {
    m_unfilteredColumns.push_back(col);
    invalidateFilter();
}

bool CRowsSortProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (m_unfilteredColumns.empty()) {
        return QSortFilterProxyModel::filterAcceptsRow(sourceRow, sourceParent);
    }
    const QAbstractItemModel& rows = *sourceModel();
    const QRegularExpression& filter = filterRegularExpression();
    for (int col = 0; col < rows.columnCount(sourceParent); ++col) {
        if (std::find(m_unfilteredColumns.begin(), m_unfilteredColumns.end(), col) ==
                m_unfilteredColumns.end() &&
            rows.index(sourceRow, col, sourceParent)
                .data(filterRole())
                .toString()
                .contains(filter)) {
            return true;
        }
    }
    return false;
}

quint64 CRowsSortProxy::AddressKey(const QString& text) {
    const QStringList parts = text.trimmed().split(u'.');
    if (parts.size() != kOctets) {
        return kNoAddress;
    }
    quint64 key = 0;
    for (const QString& part : parts) {
        bool bOk = false;
        const int octet = part.toInt(&bOk);
        if (!bOk || part.isEmpty() || octet < 0 || octet > kOctetMax) {
            return kNoAddress;
        }
        key = (key << kOctetBits) | static_cast<quint64>(octet);
    }
    return key;
}

bool CRowsSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const QString a = left.data(Qt::DisplayRole).toString();
    const QString b = right.data(Qt::DisplayRole).toString();
    if (std::find(m_addressColumns.begin(), m_addressColumns.end(), left.column()) !=
        m_addressColumns.end()) {
        const quint64 keyA = AddressKey(a);
        const quint64 keyB = AddressKey(b);
        if (keyA != keyB || keyA != kNoAddress) {
            return keyA < keyB;
        }
    }
    const int byText = a.compare(b, Qt::CaseInsensitive);
    return byText != 0 ? byText < 0 : a < b;
}
