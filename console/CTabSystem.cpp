#include "console/CTabSystem.h"

#include "console/CLoginDlg.h"
#include "console/ConsoleLists.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CListCtrl.h"
#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

#include <QPushButton>
#include <array>
#include <cstdio>

namespace {

constexpr std::array<CColumnLayout, kServerColumnCount> kColumns = {{
    {IDS_COL_IP_ADDRESS, EColumnAlign::Center, 100},
    {IDS_COL_SYSTEM_NAME, EColumnAlign::Left, 120},
    {IDS_COL_PRODUCT, EColumnAlign::Left, 110},
    {IDS_COL_FIRMWARE, EColumnAlign::Center, 90},
    {IDS_COL_MAC_ADDRESS, EColumnAlign::Center, 120},
    {IDS_COL_AUTH, EColumnAlign::Center, 50},
}};

std::size_t Col(EServerColumn col) {
    return static_cast<std::size_t>(col);
}

} // namespace

CTabSystem::CTabSystem(IMessageBoxes& boxes)
    : CDialogPage(*FindDialogTemplate(IDD_TAB_SYSTEM)), m_boxes(boxes) {}

void CTabSystem::InsertColumns() {
    ::InsertColumns(*m_listServers, Units(), kColumns);
    // Discovery finds rows by MAC address, the login results by IP address.
    m_listServers->IndexColumn(Col(EServerColumn::MAC));
    m_listServers->IndexColumn(Col(EServerColumn::IPAddr));
}

bool CTabSystem::OnInitDialog() {
    m_listServers = Controls().ItemAs<CListCtrl>(IDC_LIST_SERVERS);
    m_listServers->SetFullRowSelect(true);
    m_listServers->SetGridLines(true);
    InsertColumns();
    connect(m_listServers, &CListCtrl::Clicked, this, [this] { OnClickList(); });
    if (m_hooks.startFirstPass) {
        m_hooks.startFirstPass();
    }
    if (!SetTimer(kDiscoveryTimerId, kDiscoveryPeriodMs)) {
        // The tab stays usable; passes then start from Refresh only.
        m_boxes.Show(LoadString(IDS_SETTIMER_FAILED), EMessageIcon::Error);
    }
    return true;
}

void CTabSystem::OnCommand(int id) {
    if (id == IDC_REFRESH) {
        OnRefresh();
    } else if (id == IDC_LOGIN) {
        OnLogin();
    }
}

void CTabSystem::OnTimer(int /*nIDEvent*/) {
    if (m_hooks.onTimer) {
        m_hooks.onTimer();
    }
}

void CTabSystem::OnDestroy() {
    KillTimer(kDiscoveryTimerId);
}

void CTabSystem::EnableRefresh(bool bEnable) {
    EnableDlgItem(IDC_REFRESH, bEnable);
}

void CTabSystem::EnableLogin(bool bEnable) {
    EnableDlgItem(IDC_LOGIN, bEnable);
}

bool CTabSystem::IsRefreshEnabled() const {
    return Controls().IsEnabled(IDC_REFRESH);
}

bool CTabSystem::IsLoginEnabled() const {
    return Controls().IsEnabled(IDC_LOGIN);
}

void CTabSystem::OnRefresh() {
    EnableRefresh(false);
    if (m_hooks.onRefresh) {
        m_hooks.onRefresh();
    }
}

void CTabSystem::OnClickList() {
    std::vector<std::u16string> selectedMacs;
    for (const std::size_t row : m_listServers->GetSelectedRows()) {
        selectedMacs.push_back(CellText(row, EServerColumn::MAC));
    }
    EnableLogin(m_hooks.isLoginEnabled && m_hooks.isLoginEnabled(selectedMacs));
}

void CTabSystem::OnLogin() {
    // What the operator chose is what is selected now: discovery goes on changing the list while
    // the dialog is open (a sighting rewrites an address, a sweep moves the selection).
    std::vector<CLoginTarget> chosen;
    for (const std::size_t row : m_listServers->GetSelectedRows()) {
        chosen.push_back({CellText(row, EServerColumn::MAC), CellText(row, EServerColumn::IPAddr)});
    }
    CLoginDlg dialog(window());
    if (dialog.DoModal() != CDialog::IDOK) {
        return;
    }
    std::vector<CLoginTarget> targets;
    for (CLoginTarget& target : chosen) {
        const std::size_t row = RowOf(target);
        if (row == npos) {
            const std::string line = "OrvaneSrv: no login to " + Utf16ToUtf8(target.strIP) + " (" +
                                     Utf16ToUtf8(target.strMAC) +
                                     "): its row changed or went while the Login Dialog was open\n";
            std::fputs(line.c_str(), stderr);
            continue;
        }
        SetCellText(row, EServerColumn::Auth, LoadString(IDS_LOGGING));
        targets.push_back(std::move(target));
    }
    if (m_hooks.login && !targets.empty()) {
        m_hooks.login(std::move(targets), dialog.m_strAdminUser, dialog.m_strAdminPassword);
    }
}

std::size_t CTabSystem::RowOf(const CLoginTarget& target) const {
    // A row with a record is found by its MAC address; one without (no MAC) by its address.
    const bool bByMac = !target.strMAC.empty();
    const std::size_t row = bByMac ? FindRow(EServerColumn::MAC, target.strMAC)
                                   : FindRow(EServerColumn::IPAddr, target.strIP);
    if (row == npos || CellText(row, EServerColumn::IPAddr) != target.strIP ||
        CellText(row, EServerColumn::MAC) != target.strMAC) {
        return npos;
    }
    return row;
}

std::size_t CTabSystem::RowCount() const {
    return m_listServers->GetItemCount();
}

std::u16string CTabSystem::CellText(std::size_t row, EServerColumn col) const {
    return m_listServers->GetItemText(row, Col(col));
}

void CTabSystem::SetCellText(std::size_t row, EServerColumn col, std::u16string_view text) {
    m_listServers->SetItemText(row, Col(col), text);
}

std::size_t CTabSystem::AppendRow(std::u16string_view ip) {
    return m_listServers->AppendItem(ip);
}

void CTabSystem::DeleteRows(std::span<const std::size_t> rows) {
    m_listServers->DeleteItems(rows);
}

std::size_t CTabSystem::FindRow(EServerColumn col, std::u16string_view text) const {
    const std::size_t row = m_listServers->FindItem(Col(col), text);
    return row == CListCtrl::npos ? IServerListView::npos : row;
}

void CTabSystem::SelectAndFocus(std::size_t row) {
    m_listServers->SetSelected(row, true);
    m_listServers->SetFocusRow(row);
}
