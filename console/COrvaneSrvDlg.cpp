#include "console/COrvaneSrvDlg.h"

#include "console/CAboutDlg.h"
#include "platform/ui/IconFromSvg.h"
#include "platform/ui/NewChild.h"
#include "resources/DialogTemplates.h"
#include "resources/ProgramIcon.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

#include <QContextMenuEvent>

namespace {

QString Text(int id) {
    return QString::fromStdU16String(std::u16string(LoadString(id)));
}

} // namespace

COrvaneSrvDlg::COrvaneSrvDlg(std::unique_ptr<CRegistryHive> hive,
                             COrvaneSrvApp::CServiceHooks service)
    : CDialog(*FindDialogTemplate(IDD_ORVANESRV_DIALOG)),
      m_hIcon(IconFromSvg(IconSvg(IDR_MAINFRAME))),
      m_pCore(std::make_unique<COrvaneSrvCore>(std::move(hive))), m_service(std::move(service)),
      m_pBoxes(std::make_shared<CQtMessageBoxes>(m_windowThread.Queue())),
      m_pWindowMenu(std::make_unique<CWindowMenu>(*this, [this](int id) { OnSysCommand(id); })) {
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

    // Users before groups: linking memberships depends on it.
    m_pCore->LoadDirectory();

    m_pTabSystem = std::make_unique<CTabSystem>(*m_pBoxes);
    WireSystemTab(*m_pTabSystem);
    m_pTabSystem->Create(*m_tabCtrl); // starts discovery
    m_tabCtrl->InsertPage(Text(IDS_TAB_SYSTEM), 0, m_pTabSystem.get());

    // After the directory load, so that only the missing built-in accounts are created.
    m_pTabAccount = std::make_unique<CTabAccount>(*m_pCore);
    m_pTabAccount->Create(*m_tabCtrl);
    m_tabCtrl->InsertPage(Text(IDS_TAB_ACCOUNT), 1, m_pTabAccount.get());

    m_tabCtrl->SetMinTabWidth(kMinTabWidth);
    m_tabCtrl->SetSelectedColor(kSelectedTabText);
    m_tabCtrl->SetHoverColor(kHoverTabText);

    // Last: no request is served before the directory and the built-in accounts are complete.
    if (m_service.start) {
        m_service.start(*m_pCore);
    }
    m_bServiceStarted = true;
    return true;
}

void COrvaneSrvDlg::WireSystemTab(CTabSystem& page) {
    // The discovery passes (CServerDiscovery over m_pCore->m_mapServers, m_pCore->Guard(), page
    // as the list, WindowThread()) and the login client (CLoginClient with MessageBoxes()) plug
    // in here through CSystemTabHooks; until then the tab has the hooks it was given, if any.
    page.SetHooks(m_systemTabHooks);
}

void COrvaneSrvDlg::OnCommand(int id) {
    if (id == IDC_IMPORT) {
        OnImport();
    } else if (id == IDC_EXPORT) {
        OnExport();
    }
}

void COrvaneSrvDlg::OnImport() {
    // The configuration file import comes with the Account tab.
}

void COrvaneSrvDlg::OnExport() {
    // The configuration file export comes with the Account tab.
}

void COrvaneSrvDlg::OnSysCommand(int nID) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
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
    ShutDown();
}

void COrvaneSrvDlg::ShutDown() {
    if (m_bShutDown) {
        return;
    }
    m_bShutDown = true;
    // The window goes away: what workers still send or post is dropped, waiting ones released.
    m_pBoxes->Close();
    m_windowThread.Close();
    // The listener first, before any record is freed.
    if (m_bServiceStarted && m_service.stop) {
        m_service.stop(*m_pCore);
    }
    if (m_pTabSystem) {
        m_pTabSystem->DestroyWindow();
        m_pTabSystem.reset();
    }
    if (m_pTabAccount) {
        m_pTabAccount->DestroyWindow();
        m_pTabAccount.reset();
    }
    m_pCore->FreeTables();
}
