// The Account tab: users, groups and the storage servers each group may reach. For now the page
// shows its controls and, on initialisation, creates the built-in accounts that the store did
// not supply; its lists and commands come next.
#pragma once

#include "core/COrvaneSrvCore.h"
#include "platform/ui/CDialogPage.h"

class CTabAccount : public CDialogPage {
    Q_OBJECT
public:
    explicit CTabAccount(COrvaneSrvCore& core);

    // Shows the selected group's members and storage servers again (after a discovery pass).
    void OnSelchangeGroupList() {}

protected:
    bool OnInitDialog() override;

private:
    COrvaneSrvCore& m_core;
};
