// A sorted list box with a check box in front of each entry: a click on an entry toggles its
// check box, and no entry is ever shown selected.
#pragma once

#include "platform/ui/CSortedListModel.h"

#include <QListView>
#include <string>
#include <vector>

class CCheckListBox : public QListView {
    Q_OBJECT
public:
    static constexpr std::size_t npos = CSortedListModel::npos;

    explicit CCheckListBox(QWidget* parent = nullptr);

    std::size_t AddString(std::u16string_view text) { return m_model.Add(text); }
    std::size_t GetCount() const { return m_model.Count(); }
    std::u16string GetText(std::size_t index) const { return m_model.Text(index); }
    std::size_t FindStringExact(std::u16string_view text) const { return m_model.FindExact(text); }
    bool GetCheck(std::size_t index) const { return m_model.Checked(index); }
    void SetCheck(std::size_t index, bool bChecked) { m_model.SetChecked(index, bChecked); }
    // The texts of the checked entries, from the top of the list to the bottom.
    std::vector<std::u16string> GetCheckedTexts() const;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Toggle(const QModelIndex& index);

    CSortedListModel m_model;
};
