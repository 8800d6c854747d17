#include "console/COrvaneSrvDlg.h"

#include "console/CAboutDlg.h"
#include "control/CLoginPress.h"
#include "control/ConfigSummary.h"
#include "core/CConfigFile.h"
#include "core/CTablesView.h"
#include "core/audit/DiscoveryAudit.h"
#include "core/audit/LoginAudit.h"
#include "core/seal/CAuthorizationSeal.h"
#include "platform/text/FormatText.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CAnchoredLayout.h"
#include "platform/ui/CFileDialogs.h"
#include "platform/ui/CListCtrl.h"
#include "platform/ui/CWaitCursor.h"
#include "platform/ui/IconFromSvg.h"
#include "platform/ui/NewChild.h"
#include "platform/ui/UserFolderOutside.h"
#include "resources/DialogTemplates.h"
#include "resources/ProgramIcon.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"
#include "service/CCredentialService.h"

#include <QContextMenuEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTime>
#include <QTimer>

namespace {

// The passphrase question's width, in pixels.
constexpr int kUnsealPromptWidth = 440;

QString Text(int id) {
    return QString::fromStdU16String(std::u16string(LoadString(id)));
}

// A file that cannot be created or opened gets a plain box; what went wrong inside the file
// gets the stop icon.
EMessageIcon IconFor(EConfigStatus status) {
    const bool bPlain = status == EConfigStatus::Ok || status == EConfigStatus::CreateFailed ||
                        status == EConfigStatus::OpenFailed;
    return bPlain ? EMessageIcon::None : EMessageIcon::Error;
}

// How often the status bar looks at the service and counts the rows.
constexpr int kStatusPeriodMs = 1000;
constexpr int kStatusPadding = 4; // pixels beside each part's text

// The default password's warning line: bottom left, beside the buttons, in dialog units.
constexpr CDluRect kWarningLine{7, 209, 214, 14};
constexpr int kWarningIconPx = 16;

// The window's place is kept beside the store (in the user's XDG config folder).
std::filesystem::path PlacementFile(const CRegistryHive* hive) {
    return hive != nullptr ? hive->Path().parent_path() / "window" : std::filesystem::path();
}

// The lists' and dialogs' remembered views lie beside the window's place.
std::filesystem::path BesidePlacement(const CWindowPlacement& placement, std::string_view name) {
    return placement.File().empty() ? std::filesystem::path()
                                    : placement.File().parent_path() / name;
}

} // namespace

COrvaneSrvDlg::COrvaneSrvDlg(COrvaneSrvApp& app, std::unique_ptr<CRegistryHive> hive)
    : CDialog(*FindDialogTemplate(IDD_ORVANESRV_DIALOG)),
      m_hIcon(IconFromSvg(IconSvg(IDR_MAINFRAME))), m_app(app), m_pHive(std::move(hive)),
      m_pBoxes(std::make_shared<CQtMessageBoxes>(m_boxThread.Queue())),
      m_pWindowMenu(std::make_unique<CWindowMenu>(*this, [this](int id) { OnSysCommand(id); })),
      m_placement(PlacementFile(m_pHive.get())) {
    m_pBoxes->SetOwner(this);
}

COrvaneSrvDlg::~COrvaneSrvDlg() {
    ShutDown();
}

QWidget* COrvaneSrvDlg::CreateControl(const CControlTemplate& control, QWidget& parent) {
    if (control.kind != EControlKind::TabControl) {
        return nullptr;
    }
    m_tabCtrl = NewChild<CXTabCtrl>(&parent);
    return m_tabCtrl;
}

bool COrvaneSrvDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    if (const std::u16string_view about = LoadString(IDS_ABOUTBOX); !about.empty()) {
        m_pWindowMenu->AppendSeparator();
        m_pWindowMenu->AppendItem(QString::fromStdU16String(std::u16string(about)), IDM_ABOUTBOX);
    }
    setWindowIcon(m_hIcon);
    MakeResizable();

    // Users before groups, the pages around the built-in accounts, the service last.
    CStartUpResult started = m_app.StartUp(std::move(m_pHive), FrontEndSteps());
    if (!started) {
        m_strStartUpError = started.strError;
        m_pCoreInUse = nullptr;
        return true;
    }
    m_pCore = std::move(started.pCore);
    m_pCoreInUse = m_pCore.get();
    m_pCore->SetChangeListener([this] { UpdateWarningLine(); });
    UpdateWarningLine();
    AddShortcuts();
    connect(m_pTabSystem.get(), &CTabSystem::SearchEnded, this, [this] {
        m_strLastSearch = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
        UpdateStatusBar();
    });
    auto* statusTimer = NewChild<QTimer>(this);
    connect(statusTimer, &QTimer::timeout, this, [this] { UpdateStatusBar(); });
    statusTimer->start(kStatusPeriodMs);
    UpdateStatusBar();
    return true;
}

void COrvaneSrvDlg::MakeResizable() {
    m_pStatusBar = NewChild<QStatusBar>(this);
    for (QLabel*& part : m_statusParts) {
        part = NewChild<QLabel>(m_pStatusBar);
        part->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        part->setContentsMargins(kStatusPadding, 0, kStatusPadding, 0);
        m_pStatusBar->addWidget(part);
    }
    const int templateHeight = height();
    const int barHeight = m_pStatusBar->sizeHint().height();
    setFixedSize(width(), templateHeight + barHeight);
    m_pStatusBar->setGeometry(0, templateHeight, width(), barHeight);
    auto* layout = NewChild<CAnchoredLayout>(*this);
    layout->Anchor(m_tabCtrl, EAnchor::Grow);
    for (const int id : {IDOK, IDC_EXPORT, IDC_IMPORT}) {
        layout->Anchor(GetDlgItem(id), EAnchor::MoveXY);
    }
    layout->Anchor(m_pStatusBar, EAnchor::MoveY | EAnchor::GrowWidth);
    m_pWarningLine = MakeWarningLine();
    layout->Anchor(m_pWarningLine, EAnchor::MoveY);
}

QWidget* COrvaneSrvDlg::MakeWarningLine() {
    auto* line = NewChild<QWidget>(this);
    line->setGeometry(Units().ToPixels(kWarningLine));
    auto* row = NewChild<QHBoxLayout>(line);
    row->setContentsMargins(0, 0, 0, 0);
    auto* icon = NewChild<QLabel>(line);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(kWarningIconPx));
    auto* button = NewChild<QPushButton>(Text(IDS_CHANGE_DEFAULT_PASSWORD), line);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this] {
        if (m_pTabAccount) {
            m_pTabAccount->OpenUserProperties(std::u16string(COrvaneSrvCore::kAdminUser));
        }
    });
    row->addWidget(icon);
    row->addWidget(NewChild<QLabel>(Text(IDS_DEFAULT_PASSWORD_WARNING), line), 1);
    row->addWidget(button);
    line->hide();
    return line;
}

void COrvaneSrvDlg::UpdateWarningLine() {
    m_pWarningLine->setVisible(m_pCoreInUse != nullptr && m_pCoreInUse->HasDefaultAdminPassword());
}

void COrvaneSrvDlg::AnchorAccountPage(CTabAccount& page) {
    // The groups column grows downwards; the users and their access list take the width, and the
    // access list the height too.
    auto* layout = NewChild<CAnchoredLayout>(page);
    const std::pair<int, EAnchor> anchors[] = {
        {IDC_LIST_GROUPS, EAnchor::GrowHeight}, {IDC_LIST_USERS, EAnchor::GrowWidth},
        {IDC_ADD_USER, EAnchor::MoveX},         {IDC_USER_PROPERTIES, EAnchor::MoveX},
        {IDC_USER_DELETE, EAnchor::MoveX},      {IDC_LIST_ACCESS, EAnchor::Grow},
    };
    for (const auto& [id, anchor] : anchors) {
        layout->Anchor(page.GetDlgItem(id), anchor);
    }
    // The two frames have no identifiers: the one around the groups, and the one around the users.
    const QRect groups = page.GetDlgItem(IDC_LIST_GROUPS)->geometry();
    for (QGroupBox* frame : page.findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly)) {
        layout->Anchor(frame, frame->geometry().contains(groups) ? EAnchor::GrowHeight
                                                                 : EAnchor::GrowWidth);
    }
}

void COrvaneSrvDlg::AddShortcuts() {
    auto add = [this](QKeySequence keys, auto action) {
        connect(NewChild<QShortcut>(keys, this), &QShortcut::activated, this, action);
    };
    for (const QKeySequence& next :
         {QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)}) {
        add(next, [this] { m_tabCtrl->SelectNext(1); });
    }
    for (const QKeySequence& back :
         {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
          QKeySequence(Qt::CTRL | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::Key_PageUp)}) {
        add(back, [this] { m_tabCtrl->SelectNext(-1); });
    }
    add(QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { ExitAfterConfirm(IDOK); });
    // The About box names the fingerprint users pin: reachable without the window menu's mouse.
    add(QKeySequence(Qt::Key_F1), [this] { OnSysCommand(IDM_ABOUTBOX); });
    add(QKeySequence(Qt::Key_F5), [this] {
        // Like the button: not while a pass runs.
        if (m_pTabSystem && m_pTabSystem->IsRefreshEnabled()) {
            m_pTabSystem->OnRefresh();
        }
    });
}

QString COrvaneSrvDlg::StatusText() {
    UpdateStatusBar();
    QStringList parts;
    for (const QLabel* part : m_statusParts) {
        parts.push_back(part->text());
    }
    return parts.join(QStringLiteral(" | "));
}

void COrvaneSrvDlg::UpdateStatusBar() {
    const uint16_t port = g_bServerRunning.load() != 0 ? g_listenSocket.LocalPort() : 0;
    m_statusParts[0]->setText(port != 0 ? PortsText(port) : Text(IDS_STATUS_NOT_LISTENING));
    // A long reason for HTTPS is cut by a narrow window; the tip keeps it whole.
    m_statusParts[0]->setToolTip(m_statusParts[0]->text());
    if (m_pTabSystem) {
        const CListCtrl& list = m_pTabSystem->List();
        m_statusParts[1]->setText(Text(IDS_STATUS_ARRAYS)
                                      .arg(list.GetItemCount())
                                      .arg(m_pTabSystem->AuthorizedCount())
                                      .arg(list.GetShownCount()));
    }
    if (m_pCoreInUse != nullptr) {
        // While remembered authorizations wait for their arrays, the operator sees how far along.
        const CSealStatus seal = Core().Seal().Status();
        if (seal.nWaiting + seal.nVerifying > 0) {
            m_statusParts[1]->setText(m_statusParts[1]->text() + QStringLiteral(", ") +
                                      Text(IDS_STATUS_REMEMBERED)
                                          .arg(seal.nRemembered)
                                          .arg(seal.nWaiting + seal.nVerifying)
                                          .arg(seal.nVerified)
                                          .arg(seal.Dropped()));
        }
    }
    m_statusParts[2]->setText(IsSearching() ? Text(IDS_STATUS_SEARCHING)
                              : m_strLastSearch.isEmpty()
                                  ? Text(IDS_STATUS_NO_SEARCH)
                                  : Text(IDS_STATUS_LAST_SEARCH).arg(m_strLastSearch));
}

QString COrvaneSrvDlg::PortsText(uint16_t port) {
    const CTlsPortState tls = CTlsPortState::Published();
    switch (tls.eState) {
    case CTlsPortState::EState::Serving:
        return Text(IDS_STATUS_PORTS).arg(port).arg(tls.nPort);
    case CTlsPortState::EState::NotServed:
        return Text(IDS_STATUS_PORT_NO_TLS).arg(port).arg(QString::fromStdString(tls.strReason));
    case CTlsPortState::EState::Off:
        break;
    }
    return Text(IDS_STATUS_PORT_TLS_OFF).arg(port);
}

bool COrvaneSrvDlg::IsSearching() const {
    // A pass the timer started leaves Refresh as it was; one the hooks replace shows only there.
    return (m_pDiscovery && m_pDiscovery->IsDiscovering()) ||
           (m_pTabSystem && !m_pTabSystem->IsRefreshEnabled());
}

void COrvaneSrvDlg::showEvent(QShowEvent* event) {
    CDialog::showEvent(event);
    if (!std::exchange(m_bPlaced, true)) {
        RestorePlacement();
    }
}

void COrvaneSrvDlg::RestorePlacement() {
    const std::optional<QRect> place = m_placement.Load(minimumSize());
    if (!place) {
        return;
    }
    std::vector<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.push_back(screen->availableGeometry());
    }
    setGeometry(CWindowPlacement::PullOnScreen(*place, screens));
}

void COrvaneSrvDlg::SavePlacement() {
    if (m_bPlaced && m_pCore) {
        m_placement.Save(geometry());
    }
}

COrvaneSrvApp::CFrontEndSteps COrvaneSrvDlg::FrontEndSteps() {
    COrvaneSrvApp::CFrontEndSteps steps;
    steps.afterLoad = [this](COrvaneSrvCore& core) {
        m_pCoreInUse = &core;
        CreateSystemPage(core);
    };
    steps.beforeService = [this](COrvaneSrvCore& core) { CreateAccountPage(core); };
    steps.beforeFree = [this](COrvaneSrvCore&) { DestroyPages(); };
    return steps;
}

void COrvaneSrvDlg::CreateSystemPage(COrvaneSrvCore& core) {
    m_pTabSystem = std::make_unique<CTabSystem>(*m_pBoxes);
    m_pTabSystem->SetHooks(m_pSystemTabHooks ? *m_pSystemTabHooks
                                             : WireSystemTab(*m_pTabSystem, core));
    m_pTabSystem->SetViewFile(BesidePlacement(m_placement, "system-list"));
    m_pTabSystem->Create(*m_tabCtrl); // starts discovery
    m_tabCtrl->InsertPage(Text(IDS_TAB_SYSTEM), 0, m_pTabSystem.get());
}

void COrvaneSrvDlg::CreateAccountPage(COrvaneSrvCore& core) {
    m_pTabAccount = std::make_unique<CTabAccount>(core, *m_pBoxes);
    m_pTabAccount->SetAccessSizeFile(BesidePlacement(m_placement, "group-access"));
    m_pTabAccount->Create(*m_tabCtrl);
    m_tabCtrl->InsertPage(Text(IDS_TAB_ACCOUNT), 1, m_pTabAccount.get());

    AnchorAccountPage(*m_pTabAccount);

    m_tabCtrl->SetMinTabWidth(kMinTabWidth);
    m_tabCtrl->SetSelectedColor(kSelectedTabText);
    m_tabCtrl->SetHoverColor(kHoverTabText);
}

CSystemTabHooks COrvaneSrvDlg::WireSystemTab(CTabSystem& page, COrvaneSrvCore& core) {
    CServerDiscovery::CHooks discoveryHooks;
    discoveryHooks.enableRefresh = [&page](bool bEnable) { page.EnableRefresh(bEnable); };
    discoveryHooks.refreshAccountServers = [this] {
        if (m_pTabAccount) {
            m_pTabAccount->OnSelchangeGroupList();
        }
    };
    AddDiscoveryAudit(discoveryHooks, core);
    m_pDiscovery =
        core.MakeServerTableWorker<CServerDiscovery>(page, WindowThread(), discoveryHooks, m_slp);
    m_pLogin = core.MakeServerTableWorker<CLoginClient>(core.LoginPool(), m_loginOptions);
    CServerDiscovery* discovery = m_pDiscovery.get();
    CLoginClient* login = m_pLogin.get();
    CSystemTabHooks hooks;
    // The status bar says "Searching..." from the moment a pass starts.
    const auto thenStatus = [this, discovery](void (CServerDiscovery::*step)()) {
        return [this, discovery, step] {
            (discovery->*step)();
            UpdateStatusBar();
        };
    };
    hooks.startFirstPass = thenStatus(&CServerDiscovery::StartFirstPass);
    hooks.onTimer = thenStatus(&CServerDiscovery::OnTimer);
    hooks.onRefresh = thenStatus(&CServerDiscovery::OnRefresh);
    hooks.loginCandidates = [&core](std::span<const std::u16string> macs) {
        return core.LoginCandidates(macs);
    };
    hooks.loginHistory = [&core](const std::u16string& mac) {
        return core.Read([&mac](const CTablesView& tables) {
            const CServerData* record = tables.servers.Find(mac);
            return record != nullptr ? record->LoginHistory() : CLoginHistory();
        });
    };
    hooks.login = [this, login, &page, &core](std::vector<CLoginTarget> targets,
                                              std::vector<CLoginSkipped> skipped,
                                              std::u16string user, std::u16string password) {
        auto press =
            std::make_shared<CLoginPress>(targets.size(), std::move(skipped), page, WindowThread(),
                                          m_pBoxes, LoginAuditor(core.AuditTrail(), "console"));
        login->Login(std::move(targets), std::move(user), std::move(password),
                     [press](const CLoginOutcome& outcome) { press->OnOutcome(outcome); });
    };
    return hooks;
}

void COrvaneSrvDlg::DestroyPages() {
    // Reports of a pass or a login still under way go nowhere from here on. The boxes stay: a
    // refused start-up still has its reason to show (shutdown has closed them already).
    m_windowThread.Close();
    m_pDiscovery.reset();
    m_pLogin.reset();
    if (m_pTabSystem) {
        m_pTabSystem->DestroyWindow();
        m_pTabSystem.reset();
    }
    if (m_pTabAccount) {
        m_pTabAccount->DestroyWindow();
        m_pTabAccount.reset();
    }
}

void COrvaneSrvDlg::OnOK() {
    ExitAfterConfirm(IDOK);
}

void COrvaneSrvDlg::OnCancel() {
    ExitAfterConfirm(IDCANCEL);
}

void COrvaneSrvDlg::ExitAfterConfirm(int nResult) {
    if (m_bAskingExit) {
        return; // a second close while the question is open
    }
    m_bAskingExit = true;
    const bool bStop =
        m_pBoxes->Show(ExitQuestion(), IMessageBoxes::kProgramName, EMessageIcon::Question,
                       EMessageButtons::YesNo) == EMessageAnswer::Yes;
    m_bAskingExit = false;
    if (bStop) {
        EndDialog(nResult);
    }
}

std::u16string COrvaneSrvDlg::ExitQuestion() const {
    std::u16string question(LoadString(IDS_CONFIRM_EXIT));
    if (m_pCoreInUse == nullptr) {
        return question;
    }
    const CAuthorizationSeal::CAtExit atExit = Core().Seal().AtExit();
    if (atExit.nAuthorizations == 0) {
        return question;
    }
    const std::u16string count = Utf8ToUtf16(std::to_string(atExit.nAuthorizations));
    return question + u"\n\n" +
           FormatText(LoadString(atExit.bRemembered ? IDS_EXIT_REMEMBERED : IDS_EXIT_LOST),
                      {count});
}

void COrvaneSrvDlg::ConfigureUnsealPrompt(QInputDialog& prompt) {
    prompt.setWindowTitle(QString::fromStdU16String(std::u16string(IMessageBoxes::kProgramName)));
    prompt.setLabelText(Text(IDS_UNSEAL_PROMPT));
    prompt.setTextEchoMode(QLineEdit::Password);
    prompt.setInputMode(QInputDialog::TextInput);
    // The question is a paragraph: wrapped at a readable width, not one line across the screen.
    for (QLabel* label : prompt.findChildren<QLabel*>()) {
        label->setWordWrap(true);
    }
    prompt.setFixedWidth(kUnsealPromptWidth);
}

void COrvaneSrvDlg::AskToUnseal() {
    if (m_pCoreInUse == nullptr) {
        return;
    }
    CAuthorizationSeal& seal = Core().Seal();
    while (seal.Status().bAsksPassphrase) {
        QInputDialog prompt(this);
        ConfigureUnsealPrompt(prompt);
        if (prompt.exec() != QDialog::Accepted) {
            return; // started without them; orvanectl unseal opens the file later
        }
        QString passphrase = prompt.textValue();
        prompt.setTextValue({});
        std::string bytes = passphrase.toStdString();
        const CSealAnswer answer = seal.Unseal(bytes);
        std::fill(bytes.begin(), bytes.end(), '\0');
        passphrase.fill(QChar(0));
        if (!answer.bDone) {
            m_pBoxes->Show(Utf8ToUtf16(answer.strText), EMessageIcon::Warning);
        }
    }
}

void COrvaneSrvDlg::keyPressEvent(QKeyEvent* event) {
    // The dialog would end on Esc, or on Enter through the default Exit button, from wherever the
    // focus is; a focused button still takes its own Enter before it comes here.
    const int key = event->key();
    if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) {
        event->accept();
        return;
    }
    CDialog::keyPressEvent(event);
}

void COrvaneSrvDlg::OnCommand(int id) {
    if (id == IDC_IMPORT) {
        OnImport();
    } else if (id == IDC_EXPORT) {
        OnExport();
    }
}

std::optional<std::filesystem::path> COrvaneSrvDlg::AskConfigPath(bool bSave) {
    if (m_pCoreInUse == nullptr) {
        return std::nullopt;
    }
    CFileDialogs dialogs(LoadString(IDS_FILE_FILTER), LoadString(IDS_DEFAULT_EXT), *m_pBoxes);
    // The credential service publishes the working directory: a file exported there could be
    // fetched by anyone on the LAN.
    std::error_code ec;
    dialogs.SetStartFolder(UserFolderOutside(std::filesystem::current_path(ec)));
    const std::optional<std::u16string> path =
        bSave ? dialogs.GetSaveFileName(this) : dialogs.GetOpenFileName(this);
    if (!path) {
        return std::nullopt;
    }
    return std::filesystem::path(Utf16ToUtf8(*path));
}

bool COrvaneSrvDlg::ShowConfigResult(const CConfigResult& result) {
    if (result.status == EConfigStatus::Ok) {
        return true;
    }
    m_pBoxes->Show(result.strMessage, IconFor(result.status));
    return false;
}

void COrvaneSrvDlg::OnImport() {
    const std::optional<std::filesystem::path> path = AskConfigPath(false);
    if (!path) {
        return;
    }
    const CConfigResult result = CConfigFile::Import(*path, *m_pCoreInUse);
    if (!ShowConfigResult(result)) {
        return;
    }
    // The lists show what came in before the box tells how much it was.
    if (m_pTabAccount) {
        m_pTabAccount->ReloadGroups();
    }
    m_pBoxes->Show(ConfigSummary(false, *path, result.counts));
}

void COrvaneSrvDlg::OnExport() {
    const std::optional<std::filesystem::path> path = AskConfigPath(true);
    if (!path) {
        return;
    }
    CConfigResult result;
    {
        const CWaitCursor wait;
        result = CConfigFile::Export(*path, *m_pCoreInUse);
    }
    if (ShowConfigResult(result)) {
        m_pBoxes->Show(ConfigSummary(true, *path, result.counts));
    }
}

void COrvaneSrvDlg::ReportStartUpError() {
    m_pBoxes->Show(m_strStartUpError, EMessageIcon::Error);
}

void COrvaneSrvDlg::OnSysCommand(int nID) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(CTlsPortState::Published(), this);
        about.DoModal();
        return;
    }
    m_pWindowMenu->DefaultCommand(nID);
}

void COrvaneSrvDlg::contextMenuEvent(QContextMenuEvent* event) {
    m_pWindowMenu->Popup(event->globalPos());
    event->accept();
}

void COrvaneSrvDlg::Activate() {
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    showNormal();
    raise();
    activateWindow();
}

void COrvaneSrvDlg::OnDestroy() {
    SavePlacement();
    ShutDown();
}

void COrvaneSrvDlg::ShutDown() {
    if (m_bShutDown) {
        return;
    }
    m_bShutDown = true;
    if (m_pCore) {
        m_pCore->SetChangeListener({});
    }
    // The window goes away: what workers still send or post is dropped, waiting ones released.
    m_pBoxes->Close();
    m_boxThread.Close();
    m_windowThread.Close();
    // The listener first, then the pages, then every record.
    if (m_pCore) {
        m_app.ShutDown(*m_pCore, FrontEndSteps());
    }
    DestroyPages();
}
