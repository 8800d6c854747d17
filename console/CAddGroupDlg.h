// The group dialog: creates a group, or shows an existing group's members and directory groups
// for change (properties mode: the name cannot be changed). It changes nothing itself: it reads
// the tables to fill its fields and to check the name, and after OK hands back the name, the
// checked members and the directory groups (one DN a line, blank lines left out). A failed check
// keeps the dialog open with its input, the caret in the field at fault: the name, or the line
// of the first DN that is not one.
#pragma once

#include "core/COrvaneSrvCore.h"
#include "platform/ui/CDialog.h"
#include "platform/ui/IMessageBoxes.h"

#include <string>
#include <vector>

class CCheckListBox;
class QPlainTextEdit;

class CAddGroupDlg : public CDialog {
    Q_OBJECT
public:
    CAddGroupDlg(const COrvaneSrvCore& core, IMessageBoxes& boxes, QWidget* parent = nullptr);

    CCheckListBox& CheckUsers() const { return *m_checkUsers; }

    bool m_bProperties = false; // set before the run: edit m_strGroupName's record
    std::u16string m_strGroupName;
    std::vector<std::u16string> m_arrUsers;           // after OK: the checked users, top to bottom
    std::vector<std::u16string> m_arrDirectoryGroups; // after OK: the DNs, in their lines' order

protected:
    bool OnInitDialog() override;
    void OnOK() override;
    QWidget* CreateControl(const CControlTemplate& control, QWidget& parent) override;

private:
    const COrvaneSrvCore& m_core;
    IMessageBoxes& m_boxes;
    CCheckListBox* m_checkUsers = nullptr;           // control 1020, owned by the dialog
    QPlainTextEdit* m_editDirectoryGroups = nullptr; // control 1120, owned by the dialog

    // The DNs of the edit's lines into m_arrDirectoryGroups; false, with the box shown and the
    // caret on the line, at the first one that is no DN.
    bool TakeDirectoryGroups();
};
