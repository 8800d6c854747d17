#include "platform/ui/CSortedListModel.h"

#include <QString>
#include <algorithm>

CSortedListModel::CSortedListModel(bool bCheckable, QObject* parent)
    : QAbstractListModel(parent), m_bCheckable(bCheckable) {}

bool CSortedListModel::Before(std::u16string_view a, std::u16string_view b) {
    const int folded = QString::fromRawData(reinterpret_cast<const QChar*>(a.data()),
                                            static_cast<qsizetype>(a.size()))
                           .compare(QString::fromRawData(reinterpret_cast<const QChar*>(b.data()),
                                                         static_cast<qsizetype>(b.size())),
                                    Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a < b;
}

std::size_t CSortedListModel::Add(std::u16string_view text) {
    // After every entry that sorts before or equal to it, like a sorted list box.
    const auto it =
        std::upper_bound(m_entries.begin(), m_entries.end(), text,
                         [](std::u16string_view t, const CEntry& e) { return Before(t, e.text); });
    const auto place = static_cast<std::size_t>(it - m_entries.begin());
    beginInsertRows(QModelIndex(), static_cast<int>(place), static_cast<int>(place));
    m_entries.insert(it, CEntry{std::u16string(text), false});
    endInsertRows();
    return place;
}

void CSortedListModel::Remove(std::size_t index) {
    if (index >= m_entries.size()) {
        return;
    }
    beginRemoveRows(QModelIndex(), static_cast<int>(index), static_cast<int>(index));
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(index));
    endRemoveRows();
}

void CSortedListModel::Clear() {
    beginResetModel();
    m_entries.clear();
    endResetModel();
}

std::size_t CSortedListModel::FindExact(std::u16string_view text) const {
    const auto it = std::ranges::find(m_entries, text, &CEntry::text);
    return it == m_entries.end() ? npos : static_cast<std::size_t>(it - m_entries.begin());
}

bool CSortedListModel::Checked(std::size_t index) const {
    return index < m_entries.size() && m_entries[index].bChecked;
}

void CSortedListModel::SetChecked(std::size_t index, bool bChecked) {
    if (!m_bCheckable || index >= m_entries.size() || m_entries[index].bChecked == bChecked) {
        return;
    }
    m_entries[index].bChecked = bChecked;
    const QModelIndex changed = this->index(static_cast<int>(index));
    emit dataChanged(changed, changed, {Qt::CheckStateRole});
}

int CSortedListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_entries.size());
}

QVariant CSortedListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= m_entries.size()) {
        return {};
    }
    const CEntry& entry = m_entries[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole) {
        return QString::fromStdU16String(entry.text);
    }
    if (role == Qt::CheckStateRole && m_bCheckable) {
        return entry.bChecked ? Qt::Checked : Qt::Unchecked;
    }
    return {};
}

bool CSortedListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !m_bCheckable || !index.isValid()) {
        return false;
    }
    SetChecked(static_cast<std::size_t>(index.row()), value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

Qt::ItemFlags CSortedListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (m_bCheckable) {
        f |= Qt::ItemIsUserCheckable;
    }
    return f;
}
