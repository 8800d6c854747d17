// One press of the Login button as the operator sees it: each login's outcome goes to the audit
// trail, then the row's Auth cell shows it (on the window thread), and the press's last login
// shows the press's one box: a single failure the array's own box, as it always said it; several
// failures, or any array that was skipped, one summary sorted by address in plain words.
// Qt-free: the boxes, the window thread and the list are interfaces.
#pragma once

#include "control/LoginWords.h"
#include "platform/ui/IMessageBoxes.h"
#include "platform/ui/IWindowThread.h"
#include "storage/CLoginOutcome.h"
#include "storage/IServerListView.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Window thread: the row of the outcome's array shows it: the Auth cell what the record says now
// ("Yes" while it holds credentials), and after a login that moved the array its new address. A
// row with a record is found by its MAC address, one without by its address; none: nothing.
void ShowLoginOnRow(IServerListView& list, const CLoginOutcome& outcome);

// Where an address sorts in a report of logins: IPv4 addresses by their number, so that 10.0.0.9
// comes before 10.0.0.10; anything else after every address.
std::uint64_t AddressOrder(std::string_view address);

// A selected array that was given no login, and why.
struct CLoginSkipped {
    std::u16string strMAC;
    std::u16string strIP;
    ELoginSkip eReason = ELoginSkip::NoLogin;
};

// The box a press ends with.
struct CPressBox {
    std::u16string strText;
    std::u16string strCaption;
    EMessageIcon eIcon = EMessageIcon::None;
};

// Arrays named one by one in the summary box; the rest are counted there by reason and each
// written to standard error.
inline constexpr std::size_t kPressBoxListed = 20;

// The one box of a press of nLogins logins: notable holds the logins that failed or whose answer
// was cut, skipped the selected arrays that were given none. Nothing when there is nothing to say.
std::optional<CPressBox> PressBox(std::vector<CLoginOutcome> notable,
                                  std::vector<CLoginSkipped> skipped, std::size_t nLogins);

class CLoginPress {
public:
    // list is used on the window thread only (through window), whose owner closes it before list
    // goes away. skipped: the selected arrays given no login, for the press's box.
    CLoginPress(std::size_t nLogins, std::vector<CLoginSkipped> skipped, IServerListView& list,
                std::shared_ptr<IWindowThread> window, std::shared_ptr<IMessageBoxes> boxes,
                std::function<void(const CLoginOutcome&)> audit);

    // A login's worker, once the record shows the outcome.
    void OnOutcome(const CLoginOutcome& outcome);

private:
    // Keeps the outcome when the box will tell of it; the press's box once its last login ended.
    std::optional<CPressBox> FinishOne(const CLoginOutcome& outcome);

    IServerListView& m_list;
    std::shared_ptr<IWindowThread> m_pWindow;
    std::shared_ptr<IMessageBoxes> m_pBoxes;
    std::function<void(const CLoginOutcome&)> m_audit;
    std::mutex m_mutex;
    const std::size_t m_nLogins;
    std::size_t m_nUnfinished;
    std::vector<CLoginSkipped> m_listSkipped;
    std::vector<CLoginOutcome> m_listNotable; // failed, or logged in with a cut answer
};
