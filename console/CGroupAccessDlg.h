// The group access dialog: the supported storage servers of the table with a check box each,
// checked when the group may reach them, plus a checked placeholder row for every access-list
// entry that no listed server carries. After OK it hands back the MAC addresses of the checked
// rows in row order. It reads the tables and changes neither.
#pragma once

#include "core/COrvaneSrvCore.h"
#include "platform/ui/CDialog.h"

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
    std::vector<std::u16string> m_arrAccess; // after OK: the checked rows' MAC addresses

protected:
    bool OnInitDialog() override;
    void OnOK() override;

private:
    const COrvaneSrvCore& m_core;
    CListCtrl* m_lvServers = nullptr; // control 1025, owned by the dialog
};
