// A list box that keeps its entries sorted alphabetically without regard to case. Single
// selection, or multiple selection where each click toggles one entry. Selection changes made by
// the operator (mouse or keyboard) are reported; those made through the calls below are not.
#pragma once

#include "platform/ui/CSortedListModel.h"

#include <QListView>
#include <string>
#include <vector>

class CListBox : public QListView {
    Q_OBJECT
public:
    static constexpr std::size_t npos = CSortedListModel::npos;

    explicit CListBox(bool bMultiToggle, QWidget* parent = nullptr);

    std::size_t AddString(std::u16string_view text) { return m_model.Add(text); }
    // The entries that stay keep their selection; none is selected in place of the removed one.
    void DeleteString(std::size_t index);
    void ResetContent() { m_model.Clear(); }
    std::size_t GetCount() const { return m_model.Count(); }
    std::u16string GetText(std::size_t index) const { return m_model.Text(index); }
    std::size_t FindStringExact(std::u16string_view text) const { return m_model.FindExact(text); }

    // Single selection: the selected entry, or npos; SetCurSel(npos) clears it.
    std::size_t GetCurSel() const;
    void SetCurSel(std::size_t index);
    // Multiple selection: the selected entries, ascending.
    std::vector<std::size_t> GetSelItems() const;
    void SetSel(std::size_t index, bool bSelected);

signals:
    void SelChange();

private:
    CSortedListModel m_model;
    bool m_bQuiet = false; // a selection change made by the program
};
