// The user dialog: creates a user, or shows an existing user's password and groups for change
// (properties mode: the name cannot be changed). It changes nothing itself: it reads the tables
// to fill its list and to check the name, and after OK hands back the name, the password and
// the groups, which always end with "Everyone". A failed check keeps the dialog open with its
// input and puts the caret in the field at fault; passwords that differ are typed again.
#pragma once

#include "core/COrvaneSrvCore.h"
#include "platform/ui/CDialog.h"
#include "platform/ui/IMessageBoxes.h"

#include <string>
#include <utility>
#include <vector>

class CCheckListBox;

class CAddUserDlg : public CDialog {
    Q_OBJECT
public:
    CAddUserDlg(const COrvaneSrvCore& core, IMessageBoxes& boxes, QWidget* parent = nullptr);

    CCheckListBox& CheckGroups() const { return *m_checkGroups; }

    bool m_bProperties = false; // set before the run: edit m_strUserName's record
    std::u16string m_strUserName;
    std::u16string m_strPwd;
    std::u16string m_strPwdConfirm;
    std::vector<std::u16string> m_arrGroups; // after OK: the checked groups, then "Everyone"

protected:
    bool OnInitDialog() override;
    void OnOK() override;

private:
    void LoadControls();
    // The message of the first check the input fails (empty when it passes them all), and the
    // field to type again. The directory's rules first (CDirectoryRules), then the confirmation.
    std::pair<std::u16string, int> FirstFailedCheck() const;

    const COrvaneSrvCore& m_core;
    IMessageBoxes& m_boxes;
    CCheckListBox* m_checkGroups = nullptr; // control 1019, owned by the dialog
};
