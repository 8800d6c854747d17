#include "console/CGroupAccessDlg.h"

#include "console/ConsoleLists.h"
#include "console/UnmatchedAccess.h"
#include "platform/text/TextConv.h"
#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "storage/IsSupportedProduct.h"

#include <array>

namespace {

constexpr std::size_t kColumnCount = static_cast<std::size_t>(CGroupAccessDlg::EColumn::Count);
constexpr std::size_t kMacColumn = static_cast<std::size_t>(CGroupAccessDlg::EColumn::MAC);

constexpr std::array<CColumnLayout, kColumnCount> kColumns = {{
    {IDS_COL_IP_ADDRESS, EColumnAlign::Center, 120},
    {IDS_COL_SYSTEM_NAME, EColumnAlign::Left, 120},
    {IDS_COL_PRODUCT, EColumnAlign::Left, 110},
    {IDS_COL_FIRMWARE, EColumnAlign::Center, 90},
    {IDS_COL_MAC_ADDRESS, EColumnAlign::Center, 120},
    {IDS_COL_AUTH, EColumnAlign::Center, 50},
}};

struct CAccessRow {
    std::vector<std::u16string> cells;
    bool bChecked;
};

std::vector<std::u16string> ServerCells(const CServerData& server) {
    return {Utf8ToUtf16(server.m_szIPAddr),  Utf8ToUtf16(server.m_szSystemName),
            Utf8ToUtf16(server.m_szProduct), Utf8ToUtf16(server.m_szVersion),
            Utf8ToUtf16(server.m_szMAC),     AuthText(server.m_bAuthorized != 0)};
}

// The rows of the group's list, built under the guard; none for a group the table lacks.
std::vector<CAccessRow> BuildRows(const CTablesView& tables, const std::u16string& groupName) {
    std::vector<CAccessRow> rows;
    const auto group = tables.groups.find(groupName);
    if (group == tables.groups.end()) {
        return rows;
    }
    const std::vector<std::u16string>& access = group->second->m_listAccess;
    const std::unordered_set<std::u16string> onList(access.begin(), access.end());
    std::unordered_set<std::u16string> rowMacs;
    tables.servers.ForEach([&](const std::u16string&, const CServerData& server) {
        if (!IsSupportedProduct(server)) {
            return;
        }
        CAccessRow row{ServerCells(server), false};
        row.bChecked = onList.contains(row.cells[kMacColumn]);
        rowMacs.insert(row.cells[kMacColumn]);
        rows.push_back(std::move(row));
    });
    for (std::u16string& mac : UnmatchedAccess(access, std::move(rowMacs))) {
        std::vector<std::u16string> cells(kColumnCount, NoneText());
        cells[kMacColumn] = std::move(mac);
        rows.push_back({std::move(cells), true});
    }
    return rows;
}

} // namespace

CGroupAccessDlg::CGroupAccessDlg(const COrvaneSrvCore& core, QWidget* parent)
    : CDialog(*FindDialogTemplate(IDD_GROUP_ACCESS), parent), m_core(core) {}

bool CGroupAccessDlg::OnInitDialog() {
    m_lvServers = Controls().ItemAs<CListCtrl>(IDC_ACCESS_SERVERS);
    SetDlgItemText(IDC_ACCESS_GROUP_NAME, m_strGroupName);
    m_lvServers->SetGridLines(true);
    m_lvServers->SetCheckBoxes(true);
    m_lvServers->SetFullRowSelect(true);
    InsertColumns(*m_lvServers, Units(), kColumns);
    std::vector<CAccessRow> rows =
        m_core.Read([&](const CTablesView& tables) { return BuildRows(tables, m_strGroupName); });
    for (CAccessRow& row : rows) {
        const std::size_t index = m_lvServers->AppendItem(std::move(row.cells));
        m_lvServers->SetCheck(index, row.bChecked);
    }
    return true;
}

void CGroupAccessDlg::OnOK() {
    m_arrAccess.clear();
    for (std::size_t row = 0; row < m_lvServers->GetItemCount(); ++row) {
        if (m_lvServers->GetCheck(row)) {
            m_arrAccess.push_back(m_lvServers->GetItemText(row, kMacColumn));
        }
    }
    CDialog::OnOK();
}
