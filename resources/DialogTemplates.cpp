// The console's dialog templates as data: places and sizes in dialog units of the dialog font.
#include "resources/DialogTemplates.h"

#include "resources/OrvaneVersion.h"
#include "resources/ResourceIds.h"

#include <algorithm>
#include <array>

namespace {

using K = EControlKind;
using S = EControlStyle;
using D = EDialogStyle;

constexpr std::u16string_view kFont = u"DejaVu Sans";
constexpr int kPointSize = 8;
constexpr int kNone = CControlTemplate::kStaticId;

constexpr EDialogStyle kModal = D::Caption | D::SysMenu | D::ModalFrame | D::Centered;
constexpr EDialogStyle kMain = kModal | D::MinimizeBox | D::AppWindow;
constexpr EControlStyle kLineEdit = S::AutoHScroll | S::TabStop;
constexpr EControlStyle kReportList = S::Border | S::NoSort | S::ShowSelAlways | S::TabStop;

constexpr std::array kAbout = std::to_array<CControlTemplate>({
    {IDC_ABOUT_ICON, K::Icon, u"", {14, 14, 21, 20}},
    {IDC_ABOUT_VERSION, K::Label, u"Orvane-Srv Version " ORVANE_VERSION_TEXT, {42, 14, 180, 8}},
    {IDC_ABOUT_PURPOSE, K::Label, u"Storage array credential server", {42, 26, 180, 8}},
    {IDC_ABOUT_HTTPS, K::Label, u"", {42, 40, 180, 16}},
    {IDC_ABOUT_FINGERPRINT, K::Label, u"", {42, 58, 180, 16}},
    {IDOK, K::DefPushButton, u"&OK", {173, 80, 50, 14}, S::TabStop},
});

constexpr std::array kMain102 = std::to_array<CControlTemplate>({
    {IDOK, K::PushButton, u"E&xit", {383, 209, 50, 14}, S::TabStop},
    {IDC_TAB, K::TabControl, u"", {7, 7, 426, 192}, S::TabStop},
    {IDC_EXPORT, K::PushButton, u"&Export", {293, 209, 50, 14}, S::TabStop},
    {IDC_IMPORT, K::PushButton, u"&Import", {228, 209, 50, 14}, S::TabStop},
});

constexpr std::array kSystem = std::to_array<CControlTemplate>({
    {IDC_SERVER_FILTER_LABEL, K::Label, u"&Filter:", {7, 9, 24, 8}},
    {IDC_SERVER_FILTER, K::Edit, u"", {32, 7, 383, 14}, kLineEdit},
    {IDC_LIST_SERVERS, K::ListView, u"", {7, 25, 408, 120}, kReportList},
    {IDC_REFRESH, K::PushButton, u"&Refresh", {298, 154, 50, 14}, S::TabStop},
    {IDC_LOGIN, K::PushButton, u"&Login", {365, 154, 50, 14}, S::TabStop},
});

constexpr std::array kAccount = std::to_array<CControlTemplate>({
    {kNone, K::GroupBox, u"Groups", {7, 7, 196, 161}},
    {IDC_LIST_GROUPS, K::ListBox, u"", {13, 23, 130, 138}, S::Border | S::TabStop},
    {IDC_ADD_GROUP, K::PushButton, u"Add &Group", {153, 24, 50, 14}, S::TabStop},
    {IDC_GROUP_PROPERTIES, K::PushButton, u"&Properties", {153, 43, 50, 14}, S::TabStop},
    {IDC_GROUP_DELETE, K::PushButton, u"&Delete", {153, 62, 50, 14}, S::TabStop},
    {IDC_GROUP_ACCESS, K::PushButton, u"&Access", {153, 100, 50, 14}, S::TabStop},
    {kNone, K::GroupBox, u"Users", {211, 7, 204, 87}},
    {IDC_LIST_USERS, K::ListBox, u"", {222, 22, 133, 66}, S::Border | S::MultiToggle | S::TabStop},
    {IDC_ADD_USER, K::PushButton, u"Add &User", {365, 23, 50, 14}, S::TabStop},
    {IDC_USER_PROPERTIES, K::PushButton, u"Pr&operties", {365, 42, 50, 14}, S::TabStop},
    {IDC_USER_DELETE, K::PushButton, u"Dele&te", {365, 62, 50, 14}, S::TabStop},
    {IDC_LIST_ACCESS, K::ListView, u"", {212, 97, 203, 71}, kReportList},
});

constexpr std::array kLogin = std::to_array<CControlTemplate>({
    {kNone, K::Label, u"Username", {7, 7, 60, 16}},
    {IDC_ADMIN_USER, K::Edit, u"", {82, 7, 95, 14}, kLineEdit},
    {kNone, K::Label, u"Password", {7, 29, 60, 16}},
    {IDC_ADMIN_PASSWORD, K::Edit, u"", {82, 26, 95, 14}, kLineEdit | S::Password},
    {IDOK, K::DefPushButton, u"&OK", {46, 57, 50, 14}, S::TabStop},
    {IDCANCEL, K::PushButton, u"&Cancel", {119, 57, 50, 14}, S::TabStop},
});

constexpr std::array kAddUser = std::to_array<CControlTemplate>({
    {kNone, K::Label, u"User Name", {30, 7, 62, 14}},
    {IDC_USER_NAME, K::Edit, u"", {119, 7, 106, 14}, kLineEdit},
    {kNone, K::Label, u"Password", {30, 28, 60, 14}},
    {IDC_USER_PASSWORD, K::Edit, u"", {120, 26, 106, 14}, kLineEdit | S::Password},
    {kNone, K::Label, u"Confirm Password", {30, 48, 73, 14}},
    {IDC_USER_CONFIRM, K::Edit, u"", {120, 45, 106, 14}, kLineEdit | S::Password},
    {kNone, K::Label, u"Groups", {31, 80, 73, 14}},
    {IDC_CHECK_GROUPS, K::CheckListBox, u"", {119, 78, 107, 63}, S::Border | S::TabStop},
    {IDOK, K::DefPushButton, u"&OK", {51, 154, 50, 14}, S::TabStop},
    {IDCANCEL, K::PushButton, u"&Cancel", {143, 154, 50, 14}, S::TabStop},
});

constexpr std::array kAddGroup = std::to_array<CControlTemplate>({
    {kNone, K::Label, u"Group Name", {7, 7, 54, 14}},
    {IDC_GROUP_NAME, K::Edit, u"", {72, 7, 120, 14}, kLineEdit},
    {kNone, K::Label, u"Users", {7, 36, 54, 14}},
    {IDC_CHECK_USERS, K::CheckListBox, u"", {72, 34, 251, 70}, S::Border | S::TabStop},
    {kNone, K::Label, u"Directory groups", {7, 114, 62, 20}},
    // A multi-line edit, one DN a line, wide enough for a directory's usual DNs: the dialog
    // makes it (CAddGroupDlg).
    {IDC_GROUP_DIRECTORY_GROUPS, K::Edit, u"", {72, 112, 251, 44}, S::TabStop},
    {IDC_GROUP_DIRECTORY_HINT, K::Label, u"", {72, 159, 251, 10}},
    {IDOK, K::DefPushButton, u"&OK", {107, 178, 50, 14}, S::TabStop},
    {IDCANCEL, K::PushButton, u"&Cancel", {173, 178, 50, 14}, S::TabStop},
});

constexpr std::array kGroupAccess = std::to_array<CControlTemplate>({
    {kNone, K::Label, u"Group Name", {7, 9, 61, 8}},
    {IDC_ACCESS_GROUP_NAME, K::Edit, u"", {82, 7, 93, 14}, S::AutoHScroll | S::Disabled},
    {IDC_ACCESS_FILTER_LABEL, K::Label, u"&Filter:", {7, 29, 61, 8}},
    {IDC_ACCESS_FILTER, K::Edit, u"", {82, 27, 354, 14}, kLineEdit},
    {IDC_ACCESS_SERVERS, K::ListView, u"", {7, 46, 429, 175}, kReportList | S::SingleSel},
    {IDC_ACCESS_SELECT_SHOWN, K::PushButton, u"Select &all shown", {7, 229, 70, 14}, S::TabStop},
    {IDC_ACCESS_CLEAR_SHOWN, K::PushButton, u"C&lear all shown", {82, 229, 70, 14}, S::TabStop},
    {IDC_ACCESS_COUNT, K::Label, u"", {159, 232, 160, 8}},
    {IDOK, K::DefPushButton, u"&OK", {331, 229, 50, 14}, S::TabStop},
    {IDCANCEL, K::PushButton, u"&Cancel", {386, 229, 50, 14}, S::TabStop},
});

constexpr std::array kTemplates = std::to_array<CDialogTemplate>({
    {IDD_ABOUTBOX, u"About Orvane-Srv", 230, 101, kModal, kFont, kPointSize, kAbout},
    {IDD_ORVANESRV_DIALOG, u"Orvane-Srv", 440, 230, kMain, kFont, kPointSize, kMain102},
    {IDD_TAB_SYSTEM, u"", 422, 175, D::Child, kFont, kPointSize, kSystem},
    {IDD_TAB_ACCOUNT, u"", 422, 175, D::Child, kFont, kPointSize, kAccount},
    {IDD_LOGIN, u"Login Dialog", 220, 78, kModal, kFont, kPointSize, kLogin},
    {IDD_ADD_USER, u"Create New User", 265, 175, kModal, kFont, kPointSize, kAddUser},
    {IDD_ADD_GROUP, u"Create New Group", 330, 199, kModal, kFont, kPointSize, kAddGroup},
    {IDD_GROUP_ACCESS, u"Group Access Control", 443, 250, kModal, kFont, kPointSize, kGroupAccess},
});

} // namespace

const CDialogTemplate* FindDialogTemplate(int id) {
    const auto it = std::ranges::find(kTemplates, id, &CDialogTemplate::nId);
    return it == kTemplates.end() ? nullptr : &*it;
}

std::span<const CDialogTemplate> AllDialogTemplates() {
    return kTemplates;
}
