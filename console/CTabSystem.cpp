#include "console/CTabSystem.h"

#include "console/CColumnStretch.h"
#include "console/CLoginDlg.h"
#include "console/ConsoleLists.h"
#include "platform/text/TextConv.h"
#include "platform/text/TextEscape.h"
#include "platform/ui/CAnchoredLayout.h"
#include "platform/ui/CListCtrl.h"
#include "platform/ui/NewChild.h"
#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdio>

namespace {

using EDetailColumn = CTabSystem::EDetailColumn;

constexpr std::array<CColumnLayout, CTabSystem::kListColumnCount> kColumns = {{
    {IDS_COL_IP_ADDRESS, EColumnAlign::Center, 100},
    {IDS_COL_SYSTEM_NAME, EColumnAlign::Left, 120},
    {IDS_COL_PRODUCT, EColumnAlign::Left, 110},
    {IDS_COL_FIRMWARE, EColumnAlign::Center, 90},
    {IDS_COL_MAC_ADDRESS, EColumnAlign::Center, 120},
    {IDS_COL_AUTH, EColumnAlign::Center, 50},
    {IDS_COL_VENDOR, EColumnAlign::Left, 110},
    {IDS_COL_TYPE, EColumnAlign::Center, 40},
    {IDS_COL_LAST_SEEN, EColumnAlign::Center, 115},
    {IDS_COL_MODEL, EColumnAlign::Left, 90},
}};

// The columns of the header's menu, in its order.
constexpr std::array kOptionalColumns = {EDetailColumn::Vendor, EDetailColumn::Type,
                                         EDetailColumn::LastSeen};

int Col(EDetailColumn col) {
    return static_cast<int>(col);
}

std::size_t Col(EServerColumn col) {
    return static_cast<std::size_t>(col);
}

QString Text(int id) {
    return QString::fromStdU16String(std::u16string(LoadString(id)));
}

// The keys that open a context menu from the keyboard.
bool IsMenuKey(const QKeyEvent& key) {
    return key.key() == Qt::Key_Menu ||
           (key.key() == Qt::Key_F10 && key.modifiers() == Qt::ShiftModifier);
}

} // namespace

CTabSystem::CTabSystem(IMessageBoxes& boxes)
    : CDialogPage(*FindDialogTemplate(IDD_TAB_SYSTEM)), m_boxes(boxes) {}

void CTabSystem::InsertColumns() {
    ::InsertColumns(*m_listServers, Units(), kColumns);
    // Discovery finds rows by MAC address, the login results by IP address.
    m_listServers->IndexColumn(Col(EServerColumn::MAC));
    m_listServers->IndexColumn(Col(EServerColumn::IPAddr));
    m_listServers->SetRowNote(
        [this](std::size_t row) {
            const auto note = m_mapAddressNotes.find(CellText(row, EServerColumn::MAC));
            return note == m_mapAddressNotes.end() ? CTextRowsModel::CRowNote() : note->second;
        },
        Col(EServerColumn::SystemName));
}

void CTabSystem::WireList() {
    const int ipColumn = static_cast<int>(Col(EServerColumn::IPAddr));
    const std::array addressColumns = {ipColumn};
    MakeSortable(*m_listServers, addressColumns, ipColumn);
    // Its digits would match most filters of addresses.
    m_listServers->LeaveOutOfFilter(Col(EDetailColumn::LastSeen));
    RestoreView();
    QHeaderView* headings = m_listServers->horizontalHeader();
    connect(headings, &QHeaderView::sortIndicatorChanged, this, [this] { SaveView(); });
    headings->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(headings, &QWidget::customContextMenuRequested, this,
            [this, headings](QPoint at) { OnHeaderMenu(headings->viewport()->mapToGlobal(at)); });
    m_pNameStretch =
        NewChild<CColumnStretch>(*m_listServers, static_cast<int>(Col(EServerColumn::SystemName)));
    // Whatever changed the selection (mouse, keys, Ctrl+A, discovery), Login follows it.
    connect(m_listServers->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { OnSelChangeList(); });
    // A changed row may have become (or stopped being) a supported array: one check for a
    // stream of changes.
    m_pLoginRecheck = NewChild<QTimer>(this);
    m_pLoginRecheck->setSingleShot(true);
    connect(m_pLoginRecheck, &QTimer::timeout, this, [this] { OnSelChangeList(); });
    QAbstractItemModel* rows = m_listServers->model();
    auto recheck = [this] { m_pLoginRecheck->start(); };
    connect(rows, &QAbstractItemModel::dataChanged, m_pLoginRecheck, recheck);
    connect(rows, &QAbstractItemModel::rowsRemoved, m_pLoginRecheck, recheck);
    m_listServers->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_listServers, &QWidget::customContextMenuRequested, this, [this](QPoint at) {
        // A right click on a row has selected it; one on the empty part opens nothing.
        if (m_listServers->indexAt(at).isValid()) {
            OnContextMenuList(m_listServers->viewport()->mapToGlobal(at));
        }
    });
    m_listServers->installEventFilter(this);

    auto* filter = Controls().ItemAs<QLineEdit>(IDC_SERVER_FILTER);
    WireFilter(*filter, *Controls().ItemAs<QLabel>(IDC_SERVER_FILTER_LABEL), *m_listServers,
               IDS_FILTER_HINT_SYSTEM);

    auto* layout = NewChild<CAnchoredLayout>(*this);
    layout->Anchor(filter, EAnchor::GrowWidth);
    layout->Anchor(m_listServers, EAnchor::Grow);
    layout->Anchor(GetDlgItem(IDC_REFRESH), EAnchor::MoveXY);
    layout->Anchor(GetDlgItem(IDC_LOGIN), EAnchor::MoveXY);
}

void CTabSystem::RestoreView() {
    for (int col = static_cast<int>(kServerColumnCount); col < kListColumnCount; ++col) {
        m_listServers->setColumnHidden(col, true);
    }
    if (m_viewFile.empty()) {
        return;
    }
    const std::optional<CListView> view = LoadListView(m_viewFile, kListColumnCount);
    if (!view) {
        return;
    }
    m_listServers->sortByColumn(view->nSortColumn, view->order);
    for (const EDetailColumn col : kOptionalColumns) {
        if (std::find(view->shown.begin(), view->shown.end(), Col(col)) != view->shown.end()) {
            m_listServers->setColumnHidden(Col(col), false);
        }
    }
}

void CTabSystem::SaveView() const {
    if (m_viewFile.empty()) {
        return;
    }
    const QHeaderView& headings = *m_listServers->horizontalHeader();
    CListView view{headings.sortIndicatorSection(), headings.sortIndicatorOrder(), {}};
    for (const EDetailColumn col : kOptionalColumns) {
        if (!m_listServers->isColumnHidden(Col(col))) {
            view.shown.push_back(Col(col));
        }
    }
    if (!SaveListView(m_viewFile, view)) {
        std::fputs("OrvaneSrv: the System list's sort and columns could not be kept\n", stderr);
    }
}

void CTabSystem::OnHeaderMenu(const QPoint& pos) {
    QMenu menu(this);
    for (const EDetailColumn col : kOptionalColumns) {
        QAction* item = menu.addAction(Text(kColumns[static_cast<std::size_t>(col)].nHeading));
        item->setCheckable(true);
        item->setChecked(!m_listServers->isColumnHidden(Col(col)));
        connect(item, &QAction::toggled, this, [this, col](bool bShown) {
            m_listServers->setColumnHidden(Col(col), !bShown);
            SaveView();
        });
    }
    menu.exec(pos);
}

bool CTabSystem::OnInitDialog() {
    m_listServers = Controls().ItemAs<CListCtrl>(IDC_LIST_SERVERS);
    m_listServers->SetFullRowSelect(true);
    m_listServers->SetGridLines(true);
    InsertColumns();
    WireList();
    OnSelChangeList(); // nothing selected yet
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
    if (bEnable) {
        emit SearchEnded();
    }
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

bool CTabSystem::IsSupported(const std::u16string& mac) const {
    // The directory decides (CDirectoryRules::TakesLogin, through the array's standing), as it
    // does for orvanectl's logins; without that hook, the Login button's own test.
    if (m_hooks.loginCandidate) {
        const std::optional<CLoginCandidate> array = m_hooks.loginCandidate(mac);
        return array && array->bSupported;
    }
    return m_hooks.isLoginEnabled && !mac.empty() &&
           m_hooks.isLoginEnabled(std::span<const std::u16string>(&mac, 1));
}

void CTabSystem::OnSelChangeList() {
    const std::vector<std::size_t> selected = m_listServers->GetSelectedRows();
    std::vector<std::u16string> selectedMacs;
    selectedMacs.reserve(selected.size());
    for (const std::size_t row : selected) {
        selectedMacs.push_back(CellText(row, EServerColumn::MAC));
    }
    const bool bEnabled = m_hooks.isLoginEnabled && m_hooks.isLoginEnabled(selectedMacs);
    EnableLogin(bEnabled);
    GetDlgItem(IDC_LOGIN)->setToolTip(
        QString::fromStdU16String(LoginTip(selected, selectedMacs, bEnabled)));
}

std::u16string CTabSystem::LoginTip(std::span<const std::size_t> selected,
                                    std::span<const std::u16string> selectedMacs,
                                    bool bEnabled) const {
    if (bEnabled) {
        return std::u16string(LoadString(IDS_LOGIN_TIP_READY));
    }
    const std::size_t decider =
        m_hooks.decidingMac ? m_hooks.decidingMac(selectedMacs) : std::size_t{npos};
    if (decider >= selected.size()) {
        return std::u16string(LoadString(IDS_LOGIN_TIP_SELECT));
    }
    const std::size_t row = selected[decider];
    std::u16string product = CellText(row, EServerColumn::Product);
    if (product.empty()) {
        product = selectedMacs[decider];
    }
    return Text(IDS_LOGIN_TIP_UNSUPPORTED)
        .arg(QString::fromStdU16String(CellText(row, EServerColumn::IPAddr)),
             QString::fromStdU16String(product))
        .toStdU16String();
}

void CTabSystem::OnLogin() {
    // What the operator chose is what is selected now: discovery goes on changing the list while
    // the dialog is open (a sighting rewrites an address, a sweep moves the selection).
    std::vector<CLoginTarget> chosen;
    std::vector<CLoginTarget> skipped;
    for (const std::size_t row : m_listServers->GetSelectedRows()) {
        CLoginTarget target{CellText(row, EServerColumn::MAC),
                            CellText(row, EServerColumn::IPAddr)};
        (IsSupported(target.strMAC) ? chosen : skipped).push_back(std::move(target));
    }
    if (!chosen.empty()) {
        chosen = ConfirmTargets(std::move(chosen));
    }
    if (chosen.empty()) {
        TellSkipped(skipped, IDS_LOGIN_SKIPPED);
        return;
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
        // Checked again as it goes out: the record may have changed while the dialog was open.
        if (!IsSupported(target.strMAC)) {
            skipped.push_back(std::move(target));
            continue;
        }
        SetCellText(row, EServerColumn::Auth, LoadString(IDS_LOGGING));
        targets.push_back(std::move(target));
    }
    if (m_hooks.login && !targets.empty()) {
        m_hooks.login(std::move(targets), dialog.m_strAdminUser, dialog.m_strAdminPassword);
    }
    TellSkipped(skipped, IDS_LOGIN_SKIPPED);
}

std::optional<CLoginCandidate> CTabSystem::Candidate(const std::u16string& mac) const {
    if (m_hooks.loginCandidate) {
        return m_hooks.loginCandidate(mac);
    }
    CLoginCandidate known;
    known.strMAC = mac;
    known.bSupported = known.bKnown = true;
    return known;
}

std::vector<CLoginTarget> CTabSystem::ConfirmTargets(std::vector<CLoginTarget> chosen) {
    std::vector<CLoginTarget> targets;
    std::vector<CLoginTarget> inConflict;
    std::u16string newArrays;
    for (CLoginTarget& target : chosen) {
        const std::optional<CLoginCandidate> array = Candidate(target.strMAC);
        if (!array) {
            continue;
        }
        target.bKnown = array->bKnown;
        if (array->eState == EAddressState::Moved && chosen.size() == 1) {
            const QString text = Text(IDS_LOGIN_ASK_MOVED)
                                     .arg(QString::fromStdU16String(array->strMAC),
                                          QString::fromStdU16String(array->strIP),
                                          QString::fromStdU16String(array->strLatestClaim));
            if (m_boxes.Show(text.toStdU16String(), IMessageBoxes::kProgramName,
                             EMessageIcon::Question,
                             EMessageButtons::YesNo) != EMessageAnswer::Yes) {
                return {};
            }
            target.strIP = array->strLatestClaim;
            target.bRebind = true;
        } else if (array->eState != EAddressState::Bound && chosen.size() > 1) {
            inConflict.push_back(std::move(target));
            continue;
        }
        if (!array->bKnown) {
            newArrays += u"\n" + array->strIP + u"  " + array->strMAC + u"  " +
                         ShowControls(array->strName) + u"  " + ShowControls(array->strProduct);
        }
        targets.push_back(std::move(target));
    }
    TellSkipped(inConflict, IDS_LOGIN_SKIPPED_CONFLICT);
    if (!newArrays.empty()) {
        const QString text = Text(IDS_LOGIN_ASK_NEW).arg(QString::fromStdU16String(newArrays));
        if (m_boxes.Show(text.toStdU16String(), IMessageBoxes::kProgramName, EMessageIcon::Question,
                         EMessageButtons::YesNo) != EMessageAnswer::Yes) {
            std::erase_if(targets, [](const CLoginTarget& target) { return !target.bKnown; });
        }
    }
    return targets;
}

void CTabSystem::TellSkipped(const std::vector<CLoginTarget>& skipped, int textId) const {
    if (skipped.empty()) {
        return;
    }
    std::u16string text(LoadString(textId));
    for (const CLoginTarget& target : skipped) {
        text += u"\n" + target.strIP + (target.strMAC.empty() ? u"" : u" (" + target.strMAC + u")");
    }
    m_boxes.Show(text, EMessageIcon::Warning);
}

void CTabSystem::OnContextMenuList(const QPoint& pos) {
    QMenu menu(this);
    QAction* login = menu.addAction(Text(IDS_MENU_LOGIN), this, [this] { OnLogin(); });
    login->setEnabled(IsLoginEnabled());
    menu.addAction(Text(IDS_MENU_COPY_IP), this, [this] {
        QApplication::clipboard()->setText(SelectedCells(EServerColumn::IPAddr));
    });
    menu.addAction(Text(IDS_MENU_COPY_MAC), this, [this] {
        QApplication::clipboard()->setText(SelectedCells(EServerColumn::MAC));
    });
    menu.exec(pos);
}

QString CTabSystem::SelectedCells(EServerColumn col) const {
    QStringList cells;
    for (const std::size_t row : m_listServers->GetSelectedRows()) {
        cells.push_back(QString::fromStdU16String(CellText(row, col)));
    }
    return cells.join(u'\n');
}

bool CTabSystem::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_listServers && event->type() == QEvent::KeyPress &&
        IsMenuKey(*static_cast<QKeyEvent*>(event))) {
        // At the focused row; with no row selected there is nothing to act on.
        if (m_listServers->GetFocusRow() != CListCtrl::npos &&
            !m_listServers->GetSelectedRows().empty()) {
            const QRect row = m_listServers->visualRect(m_listServers->currentIndex());
            OnContextMenuList(m_listServers->viewport()->mapToGlobal(row.center()));
        }
        return true;
    }
    return CDialogPage::eventFilter(watched, event);
}

std::size_t CTabSystem::AuthorizedCount() const {
    std::size_t count = 0;
    for (std::size_t row = 0; row < RowCount(); ++row) {
        count += CellText(row, EServerColumn::Auth) == LoadString(IDS_YES) ? 1 : 0;
    }
    return count;
}

std::size_t CTabSystem::RowOf(const CLoginTarget& target) const {
    // A row with a record is found by its MAC address; one without (no MAC) by its address.
    const bool bByMac = !target.strMAC.empty();
    const std::size_t row = bByMac ? FindRow(EServerColumn::MAC, target.strMAC)
                                   : FindRow(EServerColumn::IPAddr, target.strIP);
    // A login that moves the array goes to another address than its row shows.
    if (row == npos || (CellText(row, EServerColumn::IPAddr) != target.strIP && !target.bRebind) ||
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

void CTabSystem::ShowDetails(std::size_t row, const CServerRowDetails& details) {
    const auto cell = [&](EDetailColumn col, std::u16string_view text) {
        m_listServers->SetItemText(row, static_cast<std::size_t>(col), text);
    };
    cell(EDetailColumn::Vendor, details.vendor);
    cell(EDetailColumn::Type, details.type);
    cell(EDetailColumn::Model, details.model);
    std::u16string seen;
    if (details.lastSeen != std::chrono::system_clock::time_point{}) {
        // Sorts as text in the order of time.
        const auto secs =
            std::chrono::duration_cast<std::chrono::seconds>(details.lastSeen.time_since_epoch());
        seen = QDateTime::fromSecsSinceEpoch(secs.count())
                   .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                   .toStdU16String();
    }
    cell(EDetailColumn::LastSeen, seen);
}

void CTabSystem::ShowAddressState(std::size_t row, EAddressState state,
                                  std::u16string_view claims) {
    const std::u16string mac = CellText(row, EServerColumn::MAC);
    if (state == EAddressState::Bound) {
        if (m_mapAddressNotes.erase(mac) != 0) {
            m_listServers->RefreshRowNote(row);
        }
        return;
    }
    const bool bMoved = state == EAddressState::Moved;
    const QString tip = Text(bMoved ? IDS_TIP_MOVED : IDS_TIP_CONFLICT)
                            .arg(QString::fromStdU16String(CellText(row, EServerColumn::IPAddr)),
                                 QString::fromStdU16String(std::u16string(claims)));
    m_mapAddressNotes[mac] = {tip.toStdU16String(), bMoved ? u"moved?" : u""};
    m_listServers->RefreshRowNote(row);
}
