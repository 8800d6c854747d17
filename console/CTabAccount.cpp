#include "console/CTabAccount.h"

#include "console/AccountNames.h"
#include "console/CAddGroupDlg.h"
#include "console/CAddUserDlg.h"
#include "console/CGroupAccessDlg.h"
#include "console/ConsoleLists.h"
#include "console/UnmatchedAccess.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CListBox.h"
#include "platform/ui/CListCtrl.h"
#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

#include <QKeyEvent>
#include <array>
#include <unordered_set>

namespace {

constexpr std::size_t kColumnCount = static_cast<std::size_t>(CTabAccount::EColumn::Count);
constexpr std::size_t kMacColumn = static_cast<std::size_t>(CTabAccount::EColumn::MAC);

constexpr std::array<CColumnLayout, kColumnCount> kColumns = {{
    {IDS_COL_IP_ADDRESS, EColumnAlign::Center, 100},
    {IDS_COL_MAC_ADDRESS, EColumnAlign::Center, 120},
    {IDS_COL_AUTH, EColumnAlign::Center, 50},
}};

// A group's members and server rows, copied under the guard so that no list is filled while
// it is held.
struct CGroupView {
    std::vector<std::u16string> members;
    std::vector<std::vector<std::u16string>> rows;
};

std::optional<CGroupView> BuildView(const CTablesView& tables, const std::u16string& name) {
    const auto group = tables.groups.find(name);
    if (group == tables.groups.end()) {
        return std::nullopt;
    }
    CGroupView view;
    view.members = group->second->m_listUsers;
    const std::vector<std::u16string>& access = group->second->m_listAccess;
    const std::unordered_set<std::u16string> onList(access.begin(), access.end());
    std::unordered_set<std::u16string> rowMacs;
    tables.servers.ForEach([&](const std::u16string&, const CServerData& server) {
        std::u16string mac = Utf8ToUtf16(server.m_szMAC);
        if (onList.contains(mac)) {
            rowMacs.insert(mac);
            view.rows.push_back({Utf8ToUtf16(server.m_szIPAddr), std::move(mac),
                                 AuthText(server.m_bAuthorized != 0)});
        }
    });
    for (std::u16string& mac : UnmatchedAccess(access, std::move(rowMacs))) {
        view.rows.push_back({NoneText(), std::move(mac), NoneText()});
    }
    return view;
}

} // namespace

CTabAccount::CTabAccount(COrvaneSrvCore& core, IMessageBoxes& boxes)
    : CDialogPage(*FindDialogTemplate(IDD_TAB_ACCOUNT)), m_core(core), m_boxes(boxes) {}

bool CTabAccount::OnInitDialog() {
    m_lbGroups = Controls().ItemAs<CListBox>(IDC_LIST_GROUPS);
    m_lbUsers = Controls().ItemAs<CListBox>(IDC_LIST_USERS);
    m_lvAccess = Controls().ItemAs<CListCtrl>(IDC_LIST_ACCESS);
    // Start-up has made them already; this creates only what is still missing, and never
    // replaces a stored account that could not be read.
    m_core.CreateBuiltInAccounts();
    m_lvAccess->SetGridLines(true);
    m_lvAccess->SetFullRowSelect(true);
    InsertColumns(*m_lvAccess, Units(), kColumns);
    connect(m_lbGroups, &CListBox::SelChange, this, [this] { OnSelchangeGroupList(); });
    m_lbGroups->installEventFilter(this);
    m_lbUsers->installEventFilter(this);
    ReloadGroups();
    return true;
}

void CTabAccount::OnCommand(int id) {
    switch (id) {
    case IDC_ADD_GROUP:
        OnAddGroup();
        break;
    case IDC_GROUP_PROPERTIES:
        OnGroupProperties();
        break;
    case IDC_GROUP_DELETE:
        OnDeleteGroup();
        break;
    case IDC_ADD_USER:
        OnAddUser();
        break;
    case IDC_USER_PROPERTIES:
        OnUserProperties();
        break;
    case IDC_USER_DELETE:
        OnDeleteUser();
        break;
    case IDC_GROUP_ACCESS:
        OnGroupAccess();
        break;
    default:
        break;
    }
}

bool CTabAccount::eventFilter(QObject* watched, QEvent* event) {
    // Delete in a list does what its Delete button does, confirmation included.
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Delete)) {
        if (watched == m_lbGroups) {
            OnDeleteGroup();
            return true;
        }
        if (watched == m_lbUsers) {
            OnDeleteUser();
            return true;
        }
    }
    return CDialogPage::eventFilter(watched, event);
}

void CTabAccount::ReloadGroups() {
    m_lbGroups->ResetContent();
    std::vector<std::u16string> names = m_core.GroupNames();
    SortAsListed(names);
    for (const std::u16string& name : names) {
        m_lbGroups->AddString(name);
    }
    m_lbGroups->SetCurSel(0);
    OnSelchangeGroupList();
}

std::optional<std::u16string> CTabAccount::SelectedGroup() const {
    const std::size_t sel = m_lbGroups->GetCurSel();
    if (sel == CListBox::npos) {
        return std::nullopt;
    }
    return m_lbGroups->GetText(sel);
}

void CTabAccount::OnSelchangeGroupList() {
    const std::optional<std::u16string> name = SelectedGroup();
    if (!name) {
        return;
    }
    m_lbUsers->ResetContent();
    m_lvAccess->DeleteAllItems();
    std::optional<CGroupView> view =
        m_core.Read([&](const CTablesView& tables) { return BuildView(tables, *name); });
    if (!view) {
        return;
    }
    SortAsListed(view->members);
    for (const std::u16string& member : view->members) {
        m_lbUsers->AddString(member);
    }
    for (std::vector<std::u16string>& row : view->rows) {
        m_lvAccess->AppendItem(std::move(row));
    }
}

bool CTabAccount::Apply(CDirectoryMessage msg) {
    const long result = m_core.SendMessage(std::move(msg).AsTypedInput());
    if (result == 0) {
        return true;
    }
    m_boxes.Show(UnmadeChangeText(m_core),
                 result == COrvaneSrvCore::kRefused ? EMessageIcon::Warning : EMessageIcon::Error);
    return false;
}

void CTabAccount::ShowGroupsAgain(const std::u16string& selected) {
    ReloadGroups();
    const std::size_t index = m_lbGroups->FindStringExact(selected);
    if (index != CListBox::npos) {
        m_lbGroups->SetCurSel(index);
    }
}

bool CTabAccount::ConfirmDelete() {
    return m_boxes.Show(LoadString(IDS_SURE_TO_DELETE), IMessageBoxes::kProgramName,
                        EMessageIcon::Question, EMessageButtons::YesNo) == EMessageAnswer::Yes;
}

void CTabAccount::EditGroup(bool bProperties) {
    const std::optional<std::u16string> name = SelectedGroup();
    if (bProperties && !name) {
        return;
    }
    CAddGroupDlg dlg(m_core, m_boxes, this);
    dlg.m_bProperties = bProperties;
    dlg.m_strGroupName = bProperties ? *name : std::u16string();
    if (dlg.DoModal() == CDialog::IDOK) {
        auto group = std::make_unique<CGroupData>(dlg.m_strGroupName);
        group->m_listUsers = std::move(dlg.m_arrUsers);
        group->m_listDirectoryGroups = std::move(dlg.m_arrDirectoryGroups);
        if (bProperties) {
            // The access list stays as it is: the core keeps the old record's.
            Apply(CDirectoryMessage::ModifyGroup(true, std::move(group)));
        } else {
            m_lbGroups->AddString(dlg.m_strGroupName);
            if (!Apply(CDirectoryMessage::AddGroup(true, std::move(group)))) {
                ShowGroupsAgain(SelectedGroup().value_or(u""));
            }
        }
    }
    OnSelchangeGroupList();
}

void CTabAccount::OnDeleteGroup() {
    const std::size_t sel = m_lbGroups->GetCurSel();
    if (sel == CListBox::npos || !ConfirmDelete()) {
        return;
    }
    std::u16string name = m_lbGroups->GetText(sel);
    // The entry goes with its selection: the refresh below then finds none and leaves the
    // other lists showing the deleted group until another one is chosen.
    m_lbGroups->DeleteString(sel);
    if (!Apply(CDirectoryMessage::DeleteGroup(true, name))) {
        ShowGroupsAgain(name);
    }
    OnSelchangeGroupList();
}

void CTabAccount::OnUserProperties() {
    const std::vector<std::size_t> selected = m_lbUsers->GetSelItems();
    if (selected.size() != 1) {
        return;
    }
    EditUser(m_lbUsers->GetText(selected.front()));
}

void CTabAccount::EditUser(const std::optional<std::u16string>& name) {
    CAddUserDlg dlg(m_core, m_boxes, this);
    dlg.m_bProperties = name.has_value();
    dlg.m_strUserName = name.value_or(u"");
    if (dlg.DoModal() == CDialog::IDOK) {
        auto user = std::make_unique<CUserData>(dlg.m_strUserName, dlg.m_strPwd);
        user->m_listGroups = std::move(dlg.m_arrGroups);
        if (!name) {
            m_lbUsers->AddString(dlg.m_strUserName);
        }
        Apply(name ? CDirectoryMessage::ModifyUser(true, std::move(user))
                   : CDirectoryMessage::AddUser(true, std::move(user)));
    }
    OnSelchangeGroupList();
}

void CTabAccount::OnDeleteUser() {
    const std::vector<std::size_t> selected = m_lbUsers->GetSelItems();
    if (selected.empty() || !ConfirmDelete()) {
        return;
    }
    // From the last to the first, so that the indexes still to come stay valid.
    for (auto it = selected.rbegin(); it != selected.rend(); ++it) {
        std::u16string name = m_lbUsers->GetText(*it);
        m_lbUsers->DeleteString(*it);
        if (!Apply(CDirectoryMessage::DeleteUser(true, std::move(name)))) {
            break; // the store refuses changes: one box is enough
        }
    }
    OnSelchangeGroupList();
}

void CTabAccount::OnGroupAccess() {
    const std::optional<std::u16string> name = SelectedGroup();
    if (!name) {
        return;
    }
    CGroupAccessDlg dlg(m_core, this);
    dlg.m_strGroupName = *name;
    dlg.m_sizeFile = m_accessSizeFile;
    if (dlg.DoModal() == CDialog::IDOK) {
        auto carrier = std::make_unique<CGroupData>(*name);
        carrier->m_listAccess = std::move(dlg.m_arrAccess);
        Apply(CDirectoryMessage::SetGroupAccess(true, std::move(carrier)));
    }
    OnSelchangeGroupList();
}
