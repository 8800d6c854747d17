// The System tab: the list of storage servers that discovery sees, the Refresh button that starts
// a pass at once, and the Login button that checks administrator credentials on the selected
// servers. The list is the server list view that discovery and the login results change (rows
// found by their MAC or IP address column without walking the rows). The tab owns the discovery
// timer (111, every 30 seconds).
#pragma once

#include "console/CSystemTabHooks.h"
#include "platform/ui/CDialogPage.h"
#include "platform/ui/IMessageBoxes.h"
#include "storage/IServerListView.h"

class CListCtrl;

class CTabSystem : public CDialogPage, public IServerListView {
    Q_OBJECT
public:
    static constexpr int kDiscoveryTimerId = 111;
    static constexpr int kDiscoveryPeriodMs = 30000;

    explicit CTabSystem(IMessageBoxes& boxes);

    // Set before Create: initialisation starts the first pass through them.
    void SetHooks(CSystemTabHooks hooks) { m_hooks = std::move(hooks); }

    CListCtrl& List() const { return *m_listServers; }
    void EnableRefresh(bool bEnable);
    void EnableLogin(bool bEnable);
    bool IsRefreshEnabled() const;
    bool IsLoginEnabled() const;

    // The buttons and the list's mouse click.
    void OnRefresh();
    void OnLogin();
    void OnClickList();

    // IServerListView.
    std::size_t RowCount() const override;
    std::u16string CellText(std::size_t row, EServerColumn col) const override;
    void SetCellText(std::size_t row, EServerColumn col, std::u16string_view text) override;
    std::size_t AppendRow(std::u16string_view ip) override;
    void DeleteRows(std::span<const std::size_t> rows) override;
    std::size_t FindRow(EServerColumn col, std::u16string_view text) const override;
    void SelectAndFocus(std::size_t row) override;

protected:
    bool OnInitDialog() override;
    void OnCommand(int id) override;
    void OnTimer(int nIDEvent) override;
    void OnDestroy() override;

private:
    void InsertColumns();
    // The row of a server chosen for a login, while its MAC and IP address are as they were;
    // npos once either changed or the row went.
    std::size_t RowOf(const CLoginTarget& target) const;

    IMessageBoxes& m_boxes;
    CSystemTabHooks m_hooks;
    CListCtrl* m_listServers = nullptr; // control 1003, owned by the page
};
