// The group dialog: creates a group, or shows an existing group's members for change
// (properties mode: the name cannot be changed). It changes nothing itself: it reads the tables
// to fill its list and to check the name, and after OK hands back the name and the checked
// members. A failed check keeps the dialog open with its input, the caret in the name.
#pragma once

#include "core/COrvaneSrvCore.h"
#include "platform/ui/CDialog.h"
#include "platform/ui/IMessageBoxes.h"

#include <string>
#include <vector>

class CCheckListBox;

class CAddGroupDlg : public CDialog {
    Q_OBJECT
public:
    CAddGroupDlg(const COrvaneSrvCore& core, IMessageBoxes& boxes, QWidget* parent = nullptr);

    CCheckListBox& CheckUsers() const { return *m_checkUsers; }

    bool m_bProperties = false; // set before the run: edit m_strGroupName's record
    std::u16string m_strGroupName;
    std::vector<std::u16string> m_arrUsers; // after OK: the checked users, top to bottom

protected:
    bool OnInitDialog() override;
    void OnOK() override;

private:
    const COrvaneSrvCore& m_core;
    IMessageBoxes& m_boxes;
    CCheckListBox* m_checkUsers = nullptr; // control 1020, owned by the dialog
};
