// The entries of a sorted list box: texts kept in alphabetical order without regard to case
// (texts that differ only in case keep the order of their code units), each with a check state
// for check-list boxes.
#pragma once

#include <QAbstractListModel>
#include <string>
#include <vector>

class CSortedListModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    explicit CSortedListModel(bool bCheckable, QObject* parent = nullptr);

    // Inserts the text at its sorted place; answers that place.
    std::size_t Add(std::u16string_view text);
    void Remove(std::size_t index);
    void Clear();
    std::size_t Count() const { return m_entries.size(); }
    // The empty text past the end.
    std::u16string Text(std::size_t index) const {
        return index < m_entries.size() ? m_entries[index].text : std::u16string();
    }
    // The first entry equal to text exactly (case-sensitive), or npos.
    std::size_t FindExact(std::u16string_view text) const;
    bool Checked(std::size_t index) const;
    void SetChecked(std::size_t index, bool bChecked);

    // The sort order: case-insensitive first, then by code units.
    static bool Before(std::u16string_view a, std::u16string_view b);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct CEntry {
        std::u16string text;
        bool bChecked = false;
    };

    std::vector<CEntry> m_entries;
    bool m_bCheckable;
};
