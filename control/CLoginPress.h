// One press of the Login button as the operator sees it: each login's outcome goes to the audit
// trail, then the press's first failure gets a box of its own (its worker waits for the operator),
// then the row's Auth cell shows the outcome (on the window thread), and the press's last login
// shows one summary box of the other failures; an overlong answer body is said in a box too.
// Qt-free: the boxes, the window thread and the list are interfaces.
#pragma once

#include "platform/ui/IMessageBoxes.h"
#include "platform/ui/IWindowThread.h"
#include "storage/CLoginOutcome.h"
#include "storage/IServerListView.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Window thread: the row of the outcome's array shows it: the Auth cell what the record says now
// ("Yes" while it holds credentials), and after a login that moved the array its new address. A
// row with a record is found by its MAC address, one without by its address; none: nothing.
void ShowLoginOnRow(IServerListView& list, const CLoginOutcome& outcome);

class CLoginPress {
public:
    // Failures named one by one in the summary box; the rest are counted there and each written
    // to standard error.
    static constexpr std::size_t kSummaryListed = 20;

    // list is used on the window thread only (through window), whose owner closes it before list
    // goes away.
    CLoginPress(std::size_t nLogins, IServerListView& list, std::shared_ptr<IWindowThread> window,
                std::shared_ptr<IMessageBoxes> boxes,
                std::function<void(const CLoginOutcome&)> audit);

    // A login's worker, once the record shows the outcome.
    void OnOutcome(const CLoginOutcome& outcome);

private:
    // Whether this failure is the press's first (its own box); a later one joins the summary.
    bool TakeFirstFailure(const CLoginOutcome& outcome);
    // The summary's lines once the press's last login ended; empty before and when none failed.
    std::vector<std::u16string> FinishOne();

    IServerListView& m_list;
    std::shared_ptr<IWindowThread> m_pWindow;
    std::shared_ptr<IMessageBoxes> m_pBoxes;
    std::function<void(const CLoginOutcome&)> m_audit;
    std::mutex m_mutex;
    std::size_t m_nUnfinished;
    bool m_bFirstFailureTaken = false;
    std::vector<std::u16string> m_listOtherFailures; // "IP (MAC): reason"
};
