// One "orvanectl login": logs in to the chosen arrays through the console's login client, with
// the same worker per array, record update and Auth cell as the Login button, and gathers what
// the operator would have seen per array (Yes, or the message box's text with its code) into
// one reply once every array has answered.
//
// The only place that knows the login client's interface for the control channel: it captures
// the client's message boxes and watches its Auth cells through the System tab's rows.
#pragma once

#include "console/CControlChannel.h"
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
    struct CTarget {
        std::u16string mac;
        std::u16string ip;
    };

    // Window thread. done is called on the window thread once every array has answered; then
    // onFinished, after which the object may go. options: the arrays' port and the timeouts.
    CControlLogin(COrvaneSrvCore& core, IServerListView& list,
                  std::shared_ptr<IWindowThread> window, CControlChannel::CDone done,
                  std::function<void()> onFinished, CLoginOptions options = {});
    ~CControlLogin();
    CControlLogin(const CControlLogin&) = delete;
    CControlLogin& operator=(const CControlLogin&) = delete;

    // Window thread: starts one login per target; an empty list answers at once.
    void Start(std::vector<CTarget> targets, std::u16string userName, std::u16string password);

private:
    class CRecorder;
    std::unique_ptr<CRecorder> m_pRecorder;
};
