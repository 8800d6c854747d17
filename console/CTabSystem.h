// The System tab: the list of storage servers that discovery sees, the Refresh button that starts
// a pass at once, and the Login button that checks administrator credentials on the selected
// servers. The list is the server list view that discovery and the login results change (rows
// found by their MAC or IP address column without walking the rows). The tab owns the discovery
// timer (111, every 30 seconds). The Login button follows the selection, however it changed, and
// says in its tip why it is greyed; it is enabled while any selected row takes a login, and a
// press reports the others as skipped in its one box; a login never goes to an array that does
// not support one. The Auth cell's tip tells how the array's last login ended. A filter field
// narrows the list (any column: also the vendor, model and type, shown or not), a click on a
// heading sorts it (by IP address at first), and a right click or the Menu key on a server row
// opens the server menu (Login, Copy IP address, Copy MAC address). The system name column takes
// the room the others leave; a right click on the headings chooses the optional columns (Vendor,
// Type, Last seen). The sort and those columns are kept between runs.
#pragma once

#include "console/CSystemTabHooks.h"
#include "platform/ui/CDialogPage.h"
#include "platform/ui/CListCtrl.h"
#include "platform/ui/CTextRowsModel.h"
#include "platform/ui/IMessageBoxes.h"
#include "storage/IServerListView.h"

#include <filesystem>

class CColumnStretch;
class QHelpEvent;
class QTimer;

class CTabSystem : public CDialogPage, public IServerListView {
    Q_OBJECT
public:
    static constexpr int kDiscoveryTimerId = 111;
    static constexpr int kDiscoveryPeriodMs = 30000;
    // The list's columns after those of every server list: three the operator may show, and the
    // model, which only the filter reads.
    enum class EDetailColumn : int {
        Vendor = static_cast<int>(kServerColumnCount),
        Type,
        LastSeen,
        Model,
    };
    static constexpr int kListColumnCount = static_cast<int>(EDetailColumn::Model) + 1;

    explicit CTabSystem(IMessageBoxes& boxes);

    // Set before Create: initialisation starts the first pass through them.
    void SetHooks(CSystemTabHooks hooks) { m_hooks = std::move(hooks); }
    // Set before Create: where the list's sort and optional columns are kept; none keeps nothing.
    void SetViewFile(std::filesystem::path file) { m_viewFile = std::move(file); }

    CListCtrl& List() const { return *m_listServers; }
    void EnableRefresh(bool bEnable);
    void EnableLogin(bool bEnable);
    bool IsRefreshEnabled() const;
    bool IsLoginEnabled() const;

    // The buttons, and the Login button's state after any change of the selection.
    void OnRefresh();
    void OnLogin();
    void OnSelChangeList();
    // The server menu for the selected rows, at pos (screen coordinates); runs until it closes.
    void OnContextMenuList(const QPoint& pos);
    // The menu of the optional columns, at pos (screen coordinates); runs until it closes.
    void OnHeaderMenu(const QPoint& pos);
    // Rows whose Auth cell says "Yes".
    std::size_t AuthorizedCount() const;
    // The Auth cell's tip: how the array's last login ended and when, and beside "Yes" when its
    // credentials were last verified. Empty when nothing is known.
    std::u16string AuthTip(std::size_t row) const;

signals:
    // A discovery pass ended (Refresh is enabled again).
    void SearchEnded();

public:
    // IServerListView.
    std::size_t RowCount() const override { return m_listServers->GetItemCount(); }
    std::u16string CellText(std::size_t row, EServerColumn col) const override;
    void SetCellText(std::size_t row, EServerColumn col, std::u16string_view text) override;
    std::size_t AppendRow(std::u16string_view ip) override { return m_listServers->AppendItem(ip); }
    void DeleteRows(std::span<const std::size_t> rows) override {
        m_listServers->DeleteItems(rows);
    }
    std::size_t FindRow(EServerColumn col, std::u16string_view text) const override;
    void SelectAndFocus(std::size_t row) override;
    void ShowAddressState(std::size_t row, EAddressState state,
                          std::u16string_view claims) override;
    void ShowDetails(std::size_t row, const CServerRowDetails& details) override;

protected:
    bool OnInitDialog() override;
    void OnCommand(int id) override;
    void OnTimer(int nIDEvent) override;
    void OnDestroy() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void InsertColumns();
    void WireList();
    // Why each of these arrays takes no login; nothing for one that takes it.
    std::vector<std::optional<ELoginSkip>> SkipReasons(std::span<const std::u16string> macs) const;
    // The sort and optional columns as kept, or the first sort by IP address with none shown.
    void RestoreView();
    void SaveView() const;
    // Why Login is greyed for the selected rows (or what it does when it is not).
    std::u16string LoginTip(std::span<const std::size_t> selected,
                            std::span<const std::optional<ELoginSkip>> reasons,
                            std::size_t nTaking) const;
    bool ShowAuthTip(const QHelpEvent& help);
    // The cells of the selected rows in the column, one a line, for the clipboard.
    QString SelectedCells(EServerColumn col) const;
    // The box of a press that sent no login, when it skipped any array.
    void ShowSkipped(std::vector<CLoginSkipped> skipped) const;
    // The arrays of the selection that a login may go to, as the operator confirms them: new
    // arrays only after a question, in conflict only alone (else added to skipped), moved only
    // alone and after a question. Empty when nothing is to be sent.
    std::vector<CLoginTarget> ConfirmTargets(std::vector<CLoginTarget> chosen,
                                             std::vector<CLoginSkipped>& skipped);
    // Those of chosen still as they were, and still taking a login, once the Login Dialog
    // closed (their Auth cells now say "Logging"); the others added to skipped.
    std::vector<CLoginTarget> StillChosen(std::vector<CLoginTarget> chosen,
                                          std::vector<CLoginSkipped>& skipped);
    // The row of a server chosen for a login, while its MAC and IP address are as they were;
    // npos once either changed or the row went.
    std::size_t RowOf(const CLoginTarget& target) const;

    IMessageBoxes& m_boxes;
    CSystemTabHooks m_hooks;
    CListCtrl* m_listServers = nullptr; // control 1003, owned by the page
    // The tips of the rows whose MAC address other addresses announce, by MAC address.
    std::unordered_map<std::u16string, CTextRowsModel::CRowNote> m_mapAddressNotes;
    QTimer* m_pLoginRecheck = nullptr; // a changed row may change the Login button; owned
    std::filesystem::path m_viewFile;
    CColumnStretch* m_pNameStretch = nullptr; // owned by the list
};
