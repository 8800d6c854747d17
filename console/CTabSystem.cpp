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
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ranges>

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

// When a login ended, as the operator's clock shows it: the time of day, and the date too when it
// was not today.
QString TimeOfMark(const CLoginMark& mark) {
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(mark.at.time_since_epoch()).count());
    return at.toString(at.date() == QDate::currentDate() ? QStringLiteral("HH:mm")
                                                         : QStringLiteral("yyyy-MM-dd HH:mm"));
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
    m_listServers->viewport()->installEventFilter(this); // the Auth cell's tip

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

std::vector<std::optional<ELoginSkip>>
CTabSystem::SkipReasons(std::span<const std::u16string> macs) const {
    // The directory decides (CDirectoryRules::TakesLogin, through the arrays' standing), as it
    // does for orvanectl's logins.
    std::vector<std::optional<CLoginCandidate>> arrays =
        m_hooks.loginCandidates ? m_hooks.loginCandidates(macs)
                                : std::vector<std::optional<CLoginCandidate>>(macs.size());
    arrays.resize(macs.size());
    std::vector<std::optional<ELoginSkip>> reasons(macs.size());
    for (std::size_t i = 0; i < macs.size(); ++i) {
        if (macs[i].empty()) {
            reasons[i] = ELoginSkip::NoMac; // nothing could keep its credentials
        } else if (!arrays[i] || !arrays[i]->bSupported) {
            reasons[i] = ELoginSkip::NoLogin;
        }
    }
    return reasons;
}

void CTabSystem::OnSelChangeList() {
    const std::vector<std::size_t> selected = m_listServers->GetSelectedRows();
    std::vector<std::u16string> selectedMacs;
    selectedMacs.reserve(selected.size());
    for (const std::size_t row : selected) {
        selectedMacs.push_back(CellText(row, EServerColumn::MAC));
    }
    const std::vector<std::optional<ELoginSkip>> reasons = SkipReasons(selectedMacs);
    const auto nTaking =
        static_cast<std::size_t>(std::count(reasons.begin(), reasons.end(), std::nullopt));
    // Any array that takes a login is worth the press; the others are reported as skipped.
    EnableLogin(nTaking > 0);
    GetDlgItem(IDC_LOGIN)->setToolTip(
        QString::fromStdU16String(LoginTip(selected, reasons, nTaking)));
}

std::u16string CTabSystem::LoginTip(std::span<const std::size_t> selected,
                                    std::span<const std::optional<ELoginSkip>> reasons,
                                    std::size_t nTaking) const {
    if (nTaking == selected.size() && nTaking > 0) {
        return std::u16string(LoadString(IDS_LOGIN_TIP_READY));
    }
    if (nTaking > 0) {
        return Text(IDS_LOGIN_TIP_SOME).arg(nTaking).arg(selected.size()).toStdU16String();
    }
    if (selected.empty()) {
        return std::u16string(LoadString(IDS_LOGIN_TIP_SELECT));
    }
    // The top row says why.
    const std::size_t row = selected.front();
    const QString ip = QString::fromStdU16String(CellText(row, EServerColumn::IPAddr));
    if (reasons.front() == ELoginSkip::NoMac) {
        return Text(IDS_LOGIN_TIP_NO_MAC).arg(ip).toStdU16String();
    }
    std::u16string product = CellText(row, EServerColumn::Product);
    if (product.empty()) {
        product = CellText(row, EServerColumn::MAC);
    }
    return Text(IDS_LOGIN_TIP_UNSUPPORTED)
        .arg(ip, QString::fromStdU16String(product))
        .toStdU16String();
}

void CTabSystem::OnLogin() {
    // What the operator chose is what is selected now: discovery goes on changing the list while
    // the dialog is open (a sighting rewrites an address, a sweep moves the selection).
    std::vector<CLoginTarget> chosen;
    std::vector<CLoginSkipped> skipped;
    const std::vector<std::size_t> selected = m_listServers->GetSelectedRows();
    std::vector<std::u16string> macs;
    for (const std::size_t row : selected) {
        macs.push_back(CellText(row, EServerColumn::MAC));
    }
    const std::vector<std::optional<ELoginSkip>> reasons = SkipReasons(macs);
    for (std::size_t i = 0; i < selected.size(); ++i) {
        std::u16string ip = CellText(selected[i], EServerColumn::IPAddr);
        if (reasons[i]) {
            skipped.push_back({std::move(macs[i]), std::move(ip), *reasons[i]});
        } else {
            chosen.push_back({std::move(macs[i]), std::move(ip)});
        }
    }
    if (!chosen.empty()) {
        chosen = ConfirmTargets(std::move(chosen), skipped);
    }
    if (chosen.empty()) {
        ShowSkipped(std::move(skipped));
        return;
    }
    CLoginDlg dialog(window());
    if (dialog.DoModal() != CDialog::IDOK) {
        return;
    }
    std::vector<CLoginTarget> targets = StillChosen(std::move(chosen), skipped);
    if (m_hooks.login && !targets.empty()) {
        m_hooks.login(std::move(targets), std::move(skipped), dialog.m_strAdminUser,
                      dialog.m_strAdminPassword);
    } else {
        ShowSkipped(std::move(skipped));
    }
}

std::vector<CLoginTarget> CTabSystem::StillChosen(std::vector<CLoginTarget> chosen,
                                                  std::vector<CLoginSkipped>& skipped) {
    std::vector<std::u16string> macs;
    for (const CLoginTarget& target : chosen) {
        macs.push_back(target.strMAC);
    }
    // Checked again as they go out: a record may have changed while the dialog was open.
    const std::vector<std::optional<ELoginSkip>> reasons = SkipReasons(macs);
    std::vector<CLoginTarget> targets;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        CLoginTarget& target = chosen[i];
        const std::size_t row = RowOf(target);
        if (row == npos) {
            const std::string line = "OrvaneSrv: no login to " + Utf16ToUtf8(target.strIP) + " (" +
                                     Utf16ToUtf8(target.strMAC) +
                                     "): its row changed or went while the Login Dialog was open\n";
            std::fputs(line.c_str(), stderr);
            skipped.push_back({target.strMAC, target.strIP, ELoginSkip::Changed});
        } else if (reasons[i]) {
            skipped.push_back({target.strMAC, target.strIP, *reasons[i]});
        } else {
            SetCellText(row, EServerColumn::Auth, LoadString(IDS_LOGGING));
            targets.push_back(std::move(target));
        }
    }
    return targets;
}

std::vector<CLoginTarget> CTabSystem::ConfirmTargets(std::vector<CLoginTarget> chosen,
                                                     std::vector<CLoginSkipped>& skipped) {
    std::vector<std::u16string> macs;
    for (const CLoginTarget& target : chosen) {
        macs.push_back(target.strMAC);
    }
    // Chosen arrays take a login, so the hook that said so is there; asked once for them all.
    const std::vector<std::optional<CLoginCandidate>> arrays = m_hooks.loginCandidates(macs);
    std::vector<CLoginTarget> targets;
    std::u16string newArrays;
    for (std::size_t i = 0; i < chosen.size() && i < arrays.size(); ++i) {
        CLoginTarget& target = chosen[i];
        const std::optional<CLoginCandidate>& array = arrays[i];
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
            // Reported with the press's other skipped arrays, in its one box.
            skipped.push_back({target.strMAC, target.strIP, ELoginSkip::AddressConflict});
            continue;
        }
        if (!array->bKnown) {
            newArrays += u"\n" + array->strIP + u"  " + array->strMAC + u"  " +
                         ShowControls(array->strName) + u"  " + ShowControls(array->strProduct);
        }
        targets.push_back(std::move(target));
    }
    if (!newArrays.empty()) {
        const QString text = Text(IDS_LOGIN_ASK_NEW).arg(QString::fromStdU16String(newArrays));
        if (m_boxes.Show(text.toStdU16String(), IMessageBoxes::kProgramName, EMessageIcon::Question,
                         EMessageButtons::YesNo) != EMessageAnswer::Yes) {
            std::erase_if(targets, [](const CLoginTarget& target) { return !target.bKnown; });
        }
    }
    return targets;
}

void CTabSystem::ShowSkipped(std::vector<CLoginSkipped> skipped) const {
    if (const std::optional<CPressBox> box = PressBox({}, std::move(skipped), 0)) {
        m_boxes.Show(box->strText, box->strCaption, box->eIcon, EMessageButtons::Ok);
    }
}

std::u16string CTabSystem::AuthTip(std::size_t row) const {
    if (!m_hooks.loginHistory || row >= RowCount()) {
        return {};
    }
    const std::u16string mac = CellText(row, EServerColumn::MAC);
    if (mac.empty()) {
        return {};
    }
    const CLoginHistory history = m_hooks.loginHistory(mac);
    const bool bYes = CellText(row, EServerColumn::Auth) == LoadString(IDS_YES);
    QStringList lines;
    if (bYes && history.verified) {
        const CLoginMark& verified = *history.verified;
        lines.push_back(Text(verified.bRemembered ? IDS_AUTH_TIP_VERIFIED_REMEMBERED
                                                  : IDS_AUTH_TIP_VERIFIED_LOGIN)
                            .arg(TimeOfMark(verified)));
    }
    // Beside "Yes", only a later login that failed is news: the verified credentials stay.
    if (history.last && (!bYes || !history.verified || history.last->at > history.verified->at)) {
        const CLoginMark& last = *history.last;
        CLoginOutcome outcome;
        outcome.eResult = last.eResult;
        outcome.nCode = last.nCode;
        outcome.requestTimeout = last.requestTimeout;
        lines.push_back(
            Text(bYes ? IDS_AUTH_TIP_KEPT : IDS_AUTH_TIP_LAST)
                .arg(TimeOfMark(last), QString::fromStdU16String(LoginOutcomeWords(outcome))));
    }
    return lines.join(u'\n').toStdU16String();
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
    if (watched == m_listServers->viewport() && event->type() == QEvent::ToolTip &&
        ShowAuthTip(*static_cast<QHelpEvent*>(event))) {
        return true;
    }
    return CDialogPage::eventFilter(watched, event);
}

bool CTabSystem::ShowAuthTip(const QHelpEvent& help) {
    const QModelIndex at = m_listServers->indexAt(help.pos());
    if (!at.isValid() || at.column() != static_cast<int>(Col(EServerColumn::Auth))) {
        return false;
    }
    const std::u16string tip =
        AuthTip(m_listServers->RowAtViewPlace(static_cast<std::size_t>(at.row())));
    if (tip.empty()) {
        return false; // the row's own note, if any, is the tip
    }
    QToolTip::showText(help.globalPos(), QString::fromStdU16String(tip), m_listServers->viewport(),
                       m_listServers->visualRect(at));
    return true;
}

std::size_t CTabSystem::AuthorizedCount() const {
    return static_cast<std::size_t>(std::ranges::count_if(
        std::views::iota(std::size_t{0}, RowCount()), [this](std::size_t row) {
            return CellText(row, EServerColumn::Auth) == LoadString(IDS_YES);
        }));
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

std::u16string CTabSystem::CellText(std::size_t row, EServerColumn col) const {
    return m_listServers->GetItemText(row, Col(col));
}

void CTabSystem::SetCellText(std::size_t row, EServerColumn col, std::u16string_view text) {
    m_listServers->SetItemText(row, Col(col), text);
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
