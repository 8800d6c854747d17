// The group access dialog: the supported storage servers of the table with a check box each,
// checked when the group may reach them, plus a checked placeholder row for every access-list
// entry that no listed server carries. After OK it hands back the MAC addresses of the checked
// rows in row order. It reads the tables and changes neither.
// For hundreds of arrays: it can be resized (and keeps its size between runs), a filter field
// narrows the list, the headings sort it (by IP address at first), Space ticks or clears the
// focused row, two buttons tick or clear every row the filter shows, and a line counts the ticks.
#pragma once

#include "core/COrvaneSrvCore.h"
#include "platform/ui/CDialog.h"

#include <filesystem>
#include <string>
#include <vector>

class CListCtrl;

class CGroupAccessDlg : public CDialog {
    Q_OBJECT
public:
    enum class EColumn : std::size_t { IPAddr, SystemName, Product, Version, MAC, Auth, Count };

    explicit CGroupAccessDlg(const COrvaneSrvCore& core, QWidget* parent = nullptr);

    CListCtrl& Servers() const { return *m_lvServers; }

    std::u16string m_strGroupName;           // set before the run
    std::filesystem::path m_sizeFile;        // set before the run: where its size is kept, if any
    std::vector<std::u16string> m_arrAccess; // after OK: the checked rows' MAC addresses

    // The buttons under the list: tick or clear every row the filter shows.
    void CheckShown(bool bChecked);
    // "12 of 200 arrays ticked".
    std::u16string CountText() const;

protected:
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCommand(int id) override;
    void OnDestroy() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void MakeResizable();
    void ShowCount();

    const COrvaneSrvCore& m_core;
    CListCtrl* m_lvServers = nullptr; // control 1025, owned by the dialog
    bool m_bCounting = true;          // off while many ticks change at once
};
