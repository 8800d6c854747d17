#include "console/CAddGroupDlg.h"

#include "console/AccountNames.h"
#include "console/ConsoleLists.h"
#include "platform/text/FormatText.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CCheckListBox.h"
#include "platform/ui/NewChild.h"
#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <string>
#include <unordered_set>

namespace {

// What the dialog needs of the tables, copied under the guard so that no list is filled, and
// no box shown, while it is held.
struct CGroupSnapshot {
    std::vector<std::u16string> users;
    std::unordered_set<std::u16string> members;  // of the edited group, when it is in the table
    std::vector<std::u16string> directoryGroups; // of the edited group
};

// A line without the blanks around it; a blank escaped at its end stays with the DN's value.
std::u16string_view TrimLine(std::u16string_view line) {
    while (!line.empty() && line.front() == u' ') {
        line.remove_prefix(1);
    }
    while (!line.empty() && line.back() == u' ' &&
           (line.size() < 2 || line[line.size() - 2] != u'\\')) {
        line.remove_suffix(1);
    }
    return line;
}

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
                snap.directoryGroups = it->second->m_listDirectoryGroups;
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
    m_editDirectoryGroups = Controls().ItemAs<QPlainTextEdit>(IDC_GROUP_DIRECTORY_GROUPS);
    SetDlgItemText(IDC_GROUP_NAME, m_strGroupName);
    SetDlgItemText(IDC_GROUP_DIRECTORY_HINT, LoadString(IDS_DIRECTORY_GROUPS_HINT));
    CGroupSnapshot snap = TakeSnapshot(m_core, m_bProperties, m_strGroupName);
    SortAsListed(snap.users);
    for (const std::u16string& user : snap.users) {
        // Members without a user record have no entry and are passed over.
        m_checkUsers->SetCheck(m_checkUsers->AddString(user), snap.members.contains(user));
    }
    std::u16string lines;
    for (const std::u16string& dn : snap.directoryGroups) {
        lines += (lines.empty() ? u"" : u"\n") + dn;
    }
    m_editDirectoryGroups->setPlainText(QString::fromStdU16String(lines));
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
    if (!TakeDirectoryGroups()) {
        return;
    }
    m_arrUsers = m_checkUsers->GetCheckedTexts();
    CDialog::OnOK();
}

bool CAddGroupDlg::TakeDirectoryGroups() {
    m_arrDirectoryGroups.clear();
    std::unordered_set<std::string> keys;
    const QTextDocument& document = *m_editDirectoryGroups->document();
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const std::u16string text = block.text().toStdU16String();
        const std::u16string_view dn = TrimLine(text);
        if (dn.empty()) {
            continue;
        }
        if (const EDnFault fault = CDirectoryRules::CheckDirectoryGroupDn(dn);
            fault != EDnFault::None) {
            m_boxes.Show(FormatText(LoadString(IDS_DIRECTORY_GROUPS_LINE),
                                    {Utf8ToUtf16(std::to_string(block.blockNumber() + 1)),
                                     DnFaultText(fault, dn)}),
                         EMessageIcon::Warning);
            QTextCursor caret(block);
            caret.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            m_editDirectoryGroups->setTextCursor(caret);
            m_editDirectoryGroups->setFocus(Qt::OtherFocusReason);
            return false;
        }
        // A second spelling of one directory group is left out, as orvanectl does.
        if (keys.insert(CDirectoryRules::DirectoryGroupKey(Utf16ToUtf8(dn))).second) {
            m_arrDirectoryGroups.emplace_back(dn);
        }
    }
    return true;
}

QWidget* CAddGroupDlg::CreateControl(const CControlTemplate& control, QWidget& parent) {
    if (control.nId != IDC_GROUP_DIRECTORY_GROUPS) {
        return nullptr;
    }
    auto* edit = NewChild<QPlainTextEdit>(&parent);
    // One DN a line, however long: a wrapped DN would read as two.
    edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    edit->setTabChangesFocus(true);
    return edit;
}
