// The main window: the tab control with the System and Account pages, the Import, Export and Exit
// buttons, the window menu with the About entry, and the program icon. It owns the directory and
// the storage server table (through the core), the two pages and the window thread's queue, and
// runs start-up and shutdown in their fixed order:
//   start: directory load, System page (starts discovery), Account page (creates the built-in
//          accounts), tab settings, the credential service last;
//   stop:  the window thread's queue and message boxes closed, the credential service, the
//          pages, then every record freed.
#pragma once

#include "console/CTabAccount.h"
#include "console/CTabSystem.h"
#include "console/CXTabCtrl.h"
#include "core/COrvaneSrvApp.h"
#include "core/COrvaneSrvCore.h"
#include "platform/registry/CRegistryHive.h"
#include "platform/ui/CDialog.h"
#include "platform/ui/CQtMessageBoxes.h"
#include "platform/ui/CQtWindowThread.h"
#include "platform/ui/CWindowMenu.h"

#include <QIcon>
#include <memory>

class COrvaneSrvDlg : public CDialog {
    Q_OBJECT
public:
    static constexpr int IDM_ABOUTBOX = 0x10;
    static constexpr int kMinTabWidth = 100;
    static inline const QColor kSelectedTabText{0, 0, 255};
    static inline const QColor kHoverTabText{255, 255, 255};

    // hive: the store of the directory, read at initialisation; service: the credential
    // service's start (last step of initialisation) and stop (first step of shutdown).
    COrvaneSrvDlg(std::unique_ptr<CRegistryHive> hive, COrvaneSrvApp::CServiceHooks service);
    ~COrvaneSrvDlg() override;

    // What the System tab is given before it initialises (discovery and login hooks).
    void SetSystemTabHooks(CSystemTabHooks hooks) { m_systemTabHooks = std::move(hooks); }
    // Brings the window forward: shown in its normal state, raised, focused.
    void Activate();
    // The window menu's commands (and 0x10, About).
    void OnSysCommand(int nID);

    CXTabCtrl& TabCtrl() const { return *m_tabCtrl; }
    CTabSystem* TabSystem() const { return m_pTabSystem.get(); }
    CTabAccount* TabAccount() const { return m_pTabAccount.get(); }
    COrvaneSrvCore& Core() const { return *m_pCore; }
    CWindowMenu& WindowMenu() const { return *m_pWindowMenu; }
    const std::shared_ptr<CQtMessageBoxes>& MessageBoxes() const { return m_pBoxes; }
    const std::shared_ptr<CWindowThreadQueue>& WindowThread() const {
        return m_windowThread.Queue();
    }
    const QIcon& Icon() const { return m_hIcon; }

protected:
    bool OnInitDialog() override;
    void OnCommand(int id) override;
    void OnDestroy() override;
    QWidget* CreateControl(const CControlTemplate& control, QWidget& parent) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Where discovery and the login client plug into the System tab, before it initialises.
    void WireSystemTab(CTabSystem& page);
    void OnImport();
    void OnExport();
    void ShutDown();

    QIcon m_hIcon;
    CXTabCtrl* m_tabCtrl = nullptr; // control 1000, owned by the window
    std::unique_ptr<COrvaneSrvCore> m_pCore;
    std::unique_ptr<CTabSystem> m_pTabSystem;
    std::unique_ptr<CTabAccount> m_pTabAccount;
    COrvaneSrvApp::CServiceHooks m_service;
    CQtWindowThread m_windowThread;
    std::shared_ptr<CQtMessageBoxes> m_pBoxes;
    std::unique_ptr<CWindowMenu> m_pWindowMenu;
    CSystemTabHooks m_systemTabHooks;
    bool m_bServiceStarted = false;
    bool m_bShutDown = false;
};
