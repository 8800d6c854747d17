// What orvanectl reaches in the window: the tables, the System tab's rows, discovery, and the
// Account tab, which lists a change from the terminal at once.
#pragma once

#include "console/COrvaneSrvDlg.h"
#include "control/IControlTarget.h"

class CWindowControlTarget : public IControlTarget {
public:
    explicit CWindowControlTarget(COrvaneSrvDlg& dialog) : m_dialog(dialog) {}

    COrvaneSrvCore& Core() override { return m_dialog.Core(); }
    IServerListView& Servers() override { return *m_dialog.TabSystem(); }
    std::shared_ptr<IWindowThread> Window() override { return m_dialog.WindowThread(); }
    CServerDiscovery* Discovery() override { return m_dialog.Discovery(); }
    // The groups listed afresh, the one the operator had selected still selected.
    void OnDirectoryChanged() override;

private:
    COrvaneSrvDlg& m_dialog;
};
