#include "console/CAddGroupDlg.h"

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
struct CGroupSnapshot {
    std::vector<std::u16string> users;
    std::unordered_set<std::u16string> members; // of the edited group, when it is in the table
};

CGroupSnapshot TakeSnapshot(const COrvaneSrvCore& core, bool bProperties,
                            const std::u16string& name) {
    return core.Read([&](const CTablesView& tables) {
        CGroupSnapshot snap;
        snap.users.reserve(tables.users.size());
        for (const auto& entry : tables.users) {
            snap.users.push_back(entry.first);
        }
        if (bProperties) {
            if (auto it = tables.groups.find(name); it != tables.groups.end()) {
                snap.members.insert(it->second->m_listUsers.begin(), it->second->m_listUsers.end());
            }
        }
        return snap;
    });
}

} // namespace

CAddGroupDlg::CAddGroupDlg(const COrvaneSrvCore& core, IMessageBoxes& boxes, QWidget* parent)
    : CDialog(*FindDialogTemplate(IDD_ADD_GROUP), parent), m_core(core), m_boxes(boxes) {}

bool CAddGroupDlg::OnInitDialog() {
    m_checkUsers = Controls().ItemAs<CCheckListBox>(IDC_CHECK_USERS);
    SetDlgItemText(IDC_GROUP_NAME, m_strGroupName);
    CGroupSnapshot snap = TakeSnapshot(m_core, m_bProperties, m_strGroupName);
    SortAsListed(snap.users);
    for (const std::u16string& user : snap.users) {
        const std::size_t index = m_checkUsers->AddString(user);
        // Members without a user record have no entry and are passed over.
        if (snap.members.contains(user)) {
            m_checkUsers->SetCheck(index, true);
        }
    }
    if (m_bProperties) {
        setWindowTitle(QString::fromStdU16String(std::u16string(LoadString(IDS_GROUP_PROPERTIES))));
        EnableDlgItem(IDC_GROUP_NAME, false);
    }
    return true;
}

void CAddGroupDlg::OnOK() {
    m_strGroupName = GetDlgItemText(IDC_GROUP_NAME);
    const CRefusal refusal = m_core.Read([&](const CTablesView& tables) {
        return m_bProperties ? CRefusal{}
                             : CDirectoryRules::CheckNewName(tables.groups, m_strGroupName);
    });
    if (refusal) {
        m_boxes.Show(RefusalText(refusal), EMessageIcon::Warning);
        FocusFieldAtFault(GetDlgItem(IDC_GROUP_NAME));
        return;
    }
    m_arrUsers = m_checkUsers->GetCheckedTexts();
    CDialog::OnOK();
}
