// One "orvanectl login": logs in to the chosen arrays on the process's login pool, beside the
// Login button and the other control connections, with the same record update and Auth cell as
// the button, and gathers each array's outcome (Yes, or in plain words why not, as the button's
// summary box says it) into one reply once every array has answered. Gone before then (its
// connection closed), it drops its queued logins; running ones still update their records and rows.
// The reply is one aligned table of the arrays sorted by address, numerically: what hundreds of
// lines need.
#pragma once

#include "control/CControlChannel.h"
#include "control/TextTable.h"
#include "core/COrvaneSrvCore.h"
#include "platform/ui/IWindowThread.h"
#include "storage/CLoginClient.h"
#include "storage/IServerListView.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CControlLogin {
public:
    // Window thread. done is called on the window thread once every array has answered; then
    // onFinished, after which the object may go. options: the arrays' port and the timeouts.
    CControlLogin(COrvaneSrvCore& core, IServerListView& list,
                  std::shared_ptr<IWindowThread> window, CControlChannel::CDone done,
                  std::function<void()> onFinished, CLoginOptions options = {});
    ~CControlLogin();
    CControlLogin(const CControlLogin&) = delete;
    CControlLogin& operator=(const CControlLogin&) = delete;

    // Window thread: starts one login per target; an empty list answers at once. A target's own
    // credentials, where it has them, stand in for userName and password. leftOut: rows (address,
    // MAC, why) of the arrays left out, sorted in among the others.
    void Start(std::vector<CLoginTarget> targets, std::u16string userName, std::u16string password,
               std::vector<CTextRow> leftOut = {});

private:
    struct CState;
    void Answer(const CLoginOutcome& outcome);
    void FinishIfDone();

    IServerListView& m_list;
    std::shared_ptr<IWindowThread> m_pWindow;
    std::function<void(const CLoginOutcome&)> m_audit;
    std::unique_ptr<CState> m_pState;
    std::unique_ptr<CLoginClient> m_pClient;
};
