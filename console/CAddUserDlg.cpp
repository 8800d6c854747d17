#include "console/CAddUserDlg.h"

#include "console/AccountNames.h"
#include "console/ConsoleLists.h"
#include "platform/ui/CCheckListBox.h"
#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

#include <unordered_set>

namespace {

// What the dialog needs of the tables, copied under the guard so that no list is filled, and
// no box shown, while it is held.
struct CUserSnapshot {
    std::vector<std::u16string> groups; // every group but "Everyone"
    bool bFound = false;                // the edited user is in the table
    std::u16string password;
    std::unordered_set<std::u16string> memberOf;
};

CUserSnapshot TakeSnapshot(const COrvaneSrvCore& core, bool bProperties,
                           const std::u16string& name) {
    return core.Read([&](const CTablesView& tables) {
        CUserSnapshot snap;
        snap.groups.reserve(tables.groups.size());
        for (const auto& [groupName, group] : tables.groups) {
            if (groupName != CDirectoryRules::kEveryoneGroup) {
                snap.groups.push_back(groupName);
            }
        }
        if (bProperties) {
            if (auto it = tables.users.find(name); it != tables.users.end()) {
                snap.bFound = true;
                snap.password = it->second->m_strPassword;
                snap.memberOf.insert(it->second->m_listGroups.begin(),
                                     it->second->m_listGroups.end());
            }
        }
        return snap;
    });
}

} // namespace

CAddUserDlg::CAddUserDlg(const COrvaneSrvCore& core, IMessageBoxes& boxes, QWidget* parent)
    : CDialog(*FindDialogTemplate(IDD_ADD_USER), parent), m_core(core), m_boxes(boxes) {}

void CAddUserDlg::LoadControls() {
    SetDlgItemText(IDC_USER_NAME, m_strUserName);
    SetDlgItemText(IDC_USER_PASSWORD, m_strPwd);
    SetDlgItemText(IDC_USER_CONFIRM, m_strPwdConfirm);
}

bool CAddUserDlg::OnInitDialog() {
    m_checkGroups = Controls().ItemAs<CCheckListBox>(IDC_CHECK_GROUPS);
    LoadControls();
    CUserSnapshot snap = TakeSnapshot(m_core, m_bProperties, m_strUserName);
    SortAsListed(snap.groups);
    for (const std::u16string& group : snap.groups) {
        // Names the user lists without an entry (among them "Everyone") are passed over.
        m_checkGroups->SetCheck(m_checkGroups->AddString(group), snap.memberOf.contains(group));
    }
    if (m_bProperties) {
        setWindowTitle(QString::fromStdU16String(std::u16string(LoadString(IDS_USER_PROPERTIES))));
        EnableDlgItem(IDC_USER_NAME, false);
        if (snap.bFound) {
            m_strPwd = snap.password;
            m_strPwdConfirm = snap.password;
            LoadControls();
        }
    }
    return true;
}

std::pair<std::u16string, int> CAddUserDlg::FirstFailedCheck() const {
    CUserData typed(m_strUserName, m_strPwd);
    CDirectoryRules::JoinEveryone(typed.m_listGroups);
    const CRefusal refusal = m_core.Read([&](const CTablesView& tables) {
        return CDirectoryRules::CheckUser(tables.users, typed, !m_bProperties);
    });
    if (refusal) {
        const bool bPassword = refusal.eKind == ERefusal::EmptyPassword;
        return {RefusalText(refusal), bPassword ? IDC_USER_PASSWORD : IDC_USER_NAME};
    }
    if (m_strPwd != m_strPwdConfirm) {
        return {std::u16string(LoadString(IDS_PASSWORD_MISMATCH)), IDC_USER_PASSWORD};
    }
    return {};
}

void CAddUserDlg::OnOK() {
    m_strUserName = GetDlgItemText(IDC_USER_NAME);
    m_strPwd = GetDlgItemText(IDC_USER_PASSWORD);
    m_strPwdConfirm = GetDlgItemText(IDC_USER_CONFIRM);
    if (auto [message, field] = FirstFailedCheck(); !message.empty()) {
        m_boxes.Show(message, EMessageIcon::Warning);
        if (field == IDC_USER_PASSWORD) {
            // Neither field shows which one was mistyped: both are typed again.
            m_strPwd.clear();
            m_strPwdConfirm.clear();
            LoadControls();
        }
        FocusFieldAtFault(GetDlgItem(field));
        return;
    }
    m_arrGroups = m_checkGroups->GetCheckedTexts();
    CDirectoryRules::JoinEveryone(m_arrGroups);
    CDialog::OnOK();
}
