#include "console/CGroupAccessDlg.h"

#include "console/CColumnStretch.h"
#include "console/ConsoleLists.h"
#include "console/UnmatchedAccess.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CAnchoredLayout.h"
#include "platform/ui/CWindowPlacement.h"
#include "platform/ui/NewChild.h"
#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"
#include "storage/IsSupportedProduct.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <algorithm>
#include <array>
#include <cstdio>
#include <ranges>

namespace {

constexpr std::size_t kColumnCount = static_cast<std::size_t>(CGroupAccessDlg::EColumn::Count);
constexpr std::size_t kMacColumn = static_cast<std::size_t>(CGroupAccessDlg::EColumn::MAC);
constexpr int kIpColumn = static_cast<int>(CGroupAccessDlg::EColumn::IPAddr);
constexpr int kNameColumn = static_cast<int>(CGroupAccessDlg::EColumn::SystemName);

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
    const std::array addressColumns = {kIpColumn};
    MakeSortable(*m_lvServers, addressColumns, kIpColumn);
    auto* filter = Controls().ItemAs<QLineEdit>(IDC_ACCESS_FILTER);
    WireFilter(*filter, *Controls().ItemAs<QLabel>(IDC_ACCESS_FILTER_LABEL), *m_lvServers,
               IDS_FILTER_HINT);
    filter->installEventFilter(this);
    m_lvServers->installEventFilter(this);
    NewChild<CColumnStretch>(*m_lvServers, kNameColumn);
    connect(m_lvServers->model(), &QAbstractItemModel::dataChanged, this, [this] {
        if (m_bCounting) {
            ShowCount();
        }
    });
    ShowCount();
    MakeResizable();
    return true;
}

void CGroupAccessDlg::MakeResizable() {
    auto* layout = NewChild<CAnchoredLayout>(*this);
    const std::pair<int, EAnchor> anchors[] = {
        {IDC_ACCESS_FILTER, EAnchor::GrowWidth},
        {IDC_ACCESS_SERVERS, EAnchor::Grow},
        {IDC_ACCESS_SELECT_SHOWN, EAnchor::MoveY},
        {IDC_ACCESS_CLEAR_SHOWN, EAnchor::MoveY},
        {IDC_ACCESS_COUNT, EAnchor::MoveY | EAnchor::GrowWidth},
        {IDOK, EAnchor::MoveXY},
        {IDCANCEL, EAnchor::MoveXY},
    };
    for (const auto& [id, anchor] : anchors) {
        layout->Anchor(GetDlgItem(id), anchor);
    }
    if (m_sizeFile.empty()) {
        return;
    }
    if (const std::optional<QRect> kept = CWindowPlacement(m_sizeFile).Load(minimumSize())) {
        // A size kept on a bigger screen is cut to this one's.
        const QWidget& owner = parentWidget() != nullptr ? *parentWidget() : *this;
        const QSize room = owner.screen()->availableGeometry().size();
        resize(kept->size().boundedTo(room).expandedTo(minimumSize()));
    }
}

void CGroupAccessDlg::OnDestroy() {
    if (!m_sizeFile.empty() && !CWindowPlacement(m_sizeFile).Save(geometry())) {
        std::fputs("OrvaneSrv: the size of the access dialog could not be kept\n", stderr);
    }
}

void CGroupAccessDlg::OnCommand(int id) {
    if (id == IDC_ACCESS_SELECT_SHOWN || id == IDC_ACCESS_CLEAR_SHOWN) {
        CheckShown(id == IDC_ACCESS_SELECT_SHOWN);
    }
}

void CGroupAccessDlg::CheckShown(bool bChecked) {
    // One count at the end rather than one per row: thousands of rows may change.
    m_bCounting = false;
    for (std::size_t place = 0; place < m_lvServers->GetShownCount(); ++place) {
        m_lvServers->SetCheck(m_lvServers->RowAtViewPlace(place), bChecked);
    }
    m_bCounting = true;
    ShowCount();
}

std::u16string CGroupAccessDlg::CountText() const {
    const std::size_t rows = m_lvServers->GetItemCount();
    const auto ticked = static_cast<std::size_t>(
        std::ranges::count_if(std::views::iota(std::size_t{0}, rows),
                              [this](std::size_t row) { return m_lvServers->GetCheck(row); }));
    const std::u16string_view text =
        LoadString(rows == 1 ? IDS_ACCESS_TICKED_ONE : IDS_ACCESS_TICKED);
    return QString::fromStdU16String(std::u16string(text)).arg(ticked).arg(rows).toStdU16String();
}

void CGroupAccessDlg::ShowCount() {
    SetDlgItemText(IDC_ACCESS_COUNT, CountText());
}

bool CGroupAccessDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return CDialog::eventFilter(watched, event);
    }
    const auto& key = *static_cast<QKeyEvent*>(event);
    if (watched == m_lvServers && key.key() == Qt::Key_Space && key.modifiers() == Qt::NoModifier) {
        // Whichever column the focus is in: the check box belongs to the row.
        if (const std::size_t row = m_lvServers->GetFocusRow(); row != CListCtrl::npos) {
            m_lvServers->SetCheck(row, !m_lvServers->GetCheck(row));
        }
        return true;
    }
    if (watched != m_lvServers && (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter)) {
        // Enter after typing a filter goes to the rows it leaves, not to OK.
        m_lvServers->setFocus(Qt::TabFocusReason);
        return true;
    }
    return CDialog::eventFilter(watched, event);
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
