// The main window: the tab control with the System and Account pages, the Import, Export and Exit
// buttons, the window menu with the About entry, and the program icon. It owns the directory and
// the storage server table (through the core), the two pages, discovery and the login client,
// and the window thread's queue, and runs start-up and shutdown in their fixed order:
//   start: directory load, System page (starts discovery), the built-in accounts, Account page,
//          tab settings, the credential service last;
//   stop:  the window thread's queue and message boxes closed, the credential service, the
//          pages with discovery and the login client, then every record freed.
// A store that cannot be used ends start-up before any page exists; StartUpError() tells why.
// The window can grow (the lists take the room, the template's size is its minimum), comes back
// where it was last time (a small file beside the store), and has a status bar: whether the
// credential service listens and on which ports (or why HTTPS is not served), how many arrays
// are listed and authorized, and "Searching..." while a pass runs or when the last one ended.
// Ctrl+Tab, Ctrl+PgDn and Ctrl+PgUp switch tabs, F5 is Refresh, F1 opens the About box.
// While "admin" has its public default password, a warning line above the status bar says so,
// with a button that opens the account's properties.
// Ending the window stops the credential service for every user: Esc and Enter never do it, and
// Exit, the close box and Ctrl+Q ask first. A stop signal ends it without asking (EndDialog).
#pragma once

#include "console/CTabAccount.h"
#include "console/CTabSystem.h"
#include "console/CXTabCtrl.h"
#include "core/CConfigResult.h"
#include "core/COrvaneSrvApp.h"
#include "core/COrvaneSrvCore.h"
#include "platform/registry/CRegistryHive.h"
#include "platform/ui/CDialog.h"
#include "platform/ui/CQtMessageBoxes.h"
#include "platform/ui/CQtWindowThread.h"
#include "platform/ui/CWindowMenu.h"
#include "platform/ui/CWindowPlacement.h"
#include "storage/CLoginClient.h"
#include "storage/CServerDiscovery.h"
#include "storage/CSlpFunctions.h"

#include <QIcon>
#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

class QLabel;
class QInputDialog;
class QStatusBar;

class COrvaneSrvDlg : public CDialog {
    Q_OBJECT
public:
    static constexpr int IDM_ABOUTBOX = 0x10;
    static constexpr int kMinTabWidth = 100;
    static inline const QColor kSelectedTabText{0, 0, 255};
    static inline const QColor kHoverTabText{255, 255, 255};

    // hive: the store of the directory, opened and read at initialisation; app: the start-up and
    // shutdown order with the credential service's start and stop.
    COrvaneSrvDlg(COrvaneSrvApp& app, std::unique_ptr<CRegistryHive> hive);
    ~COrvaneSrvDlg() override;

    // Before Create: the SLP calls discovery makes (tests give scripted ones) and the login's
    // port and timeouts.
    void SetDiscoverySlp(CSlpFunctions slp) { m_slp = slp; }
    void SetLoginOptions(CLoginOptions options) { m_loginOptions = options; }
    // Before Create: hooks that replace discovery and the login client on the System tab, for
    // tests of the window alone.
    void SetSystemTabHooks(CSystemTabHooks hooks) { m_pSystemTabHooks = std::move(hooks); }
    // After Create: why the directory store could not be used; empty when start-up went on.
    const std::u16string& StartUpError() const { return m_strStartUpError; }
    // After a refused start-up: the reason in a box with the stop icon, answered by the operator
    // before the program ends (the pages are gone by then, the window's boxes are not).
    void ReportStartUpError();
    // After Create, when a sealed file of remembered authorizations waits for its passphrase:
    // asks for it until it opens the file or the operator cancels.
    void AskToUnseal();
    // The passphrase question's title, text and hidden entry.
    static void ConfigureUnsealPrompt(QInputDialog& prompt);
    // Brings the window forward: shown in its normal state, raised, focused.
    void Activate();
    // The window menu's commands (and 0x10, About).
    void OnSysCommand(int nID);

    CXTabCtrl& TabCtrl() const { return *m_tabCtrl; }
    CTabSystem* TabSystem() const { return m_pTabSystem.get(); }
    CTabAccount* TabAccount() const { return m_pTabAccount.get(); }
    COrvaneSrvCore& Core() const { return *m_pCoreInUse; }
    // Nothing when the System tab's hooks replace discovery.
    CServerDiscovery* Discovery() const { return m_pDiscovery.get(); }
    CWindowMenu& WindowMenu() const { return *m_pWindowMenu; }
    const std::shared_ptr<CQtMessageBoxes>& MessageBoxes() const { return m_pBoxes; }
    const std::shared_ptr<CWindowThreadQueue>& WindowThread() const {
        return m_windowThread.Queue();
    }
    const QIcon& Icon() const { return m_hIcon; }
    // The status bar's texts, updated now; its parts separated by " | ".
    QString StatusText();
    // The default password's warning line; shown while "admin" has that password.
    QWidget* WarningLine() const { return m_pWarningLine; }

protected:
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void OnCommand(int id) override;
    void OnDestroy() override;
    QWidget* CreateControl(const CControlTemplate& control, QWidget& parent) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The start-up steps around the directory: the System page (with discovery and the login
    // client), then the Account page and the tab settings; at shutdown they go again.
    COrvaneSrvApp::CFrontEndSteps FrontEndSteps();
    void CreateSystemPage(COrvaneSrvCore& core);
    void CreateAccountPage(COrvaneSrvCore& core);
    void DestroyPages();
    CSystemTabHooks WireSystemTab(CTabSystem& page, COrvaneSrvCore& core);
    void OnImport();
    void OnExport();
    // The configuration file the operator chooses to write (bSave) or read; nothing on Cancel,
    // and none asked for without a directory.
    std::optional<std::filesystem::path> AskConfigPath(bool bSave);
    // Shows the message of a failed export or import; answers whether it went through.
    bool ShowConfigResult(const CConfigResult& result);
    void ShutDown();
    // Ends the run with nResult once the operator has agreed to stop the service.
    void ExitAfterConfirm(int nResult);
    // "Stop the credential service and exit?", with the authorizations a stop keeps or loses.
    std::u16string ExitQuestion() const;
    // The status bar below the buttons, the anchors that let the window grow, and the keys that
    // work anywhere in it.
    void MakeResizable();
    void AnchorAccountPage(CTabAccount& page);
    void AddShortcuts();
    QWidget* MakeWarningLine();
    void UpdateWarningLine();
    void UpdateStatusBar();
    // The service's ports: HTTP's, and HTTPS's or why it is not served.
    static QString PortsText(uint16_t port);
    // Whether a discovery pass is under way.
    bool IsSearching() const;
    void RestorePlacement();
    void SavePlacement();

    QIcon m_hIcon;
    CXTabCtrl* m_tabCtrl = nullptr; // control 1000, owned by the window
    COrvaneSrvApp& m_app;
    std::unique_ptr<CRegistryHive> m_pHive; // until start-up opens it
    std::unique_ptr<COrvaneSrvCore> m_pCore;
    COrvaneSrvCore* m_pCoreInUse = nullptr; // also during start-up, before m_pCore is set
    std::u16string m_strStartUpError;
    std::unique_ptr<CTabSystem> m_pTabSystem;
    std::unique_ptr<CTabAccount> m_pTabAccount;
    CQtWindowThread m_windowThread; // what discovery and the login workers send the window
    // The boxes' own way to the window thread: it stays open when a refused start-up closes the
    // other before the operator has been told why.
    CQtWindowThread m_boxThread;
    std::shared_ptr<CQtMessageBoxes> m_pBoxes;
    std::unique_ptr<CWindowMenu> m_pWindowMenu;
    CSlpFunctions m_slp = CSlpFunctions::Library();
    CLoginOptions m_loginOptions;
    std::optional<CSystemTabHooks> m_pSystemTabHooks;
    std::unique_ptr<CServerDiscovery> m_pDiscovery;
    std::unique_ptr<CLoginClient> m_pLogin;
    bool m_bShutDown = false;
    CWindowPlacement m_placement;
    bool m_bPlaced = false;                    // the first show has put the window where it was
    QStatusBar* m_pStatusBar = nullptr;        // owned by the window
    std::array<QLabel*, 3> m_statusParts = {}; // service, arrays, last search; owned by the bar
    QString m_strLastSearch;                   // time of day the last pass ended, or empty
    bool m_bAskingExit = false;                // the exit question is open
    QWidget* m_pWarningLine = nullptr;         // owned by the window
};
