// The Login button's outcomes; see CLoginPress.h.
#include "control/CLoginPress.h"

#include "platform/text/TextConv.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

std::u16string Number(std::size_t value) {
    return Utf8ToUtf16(std::to_string(value));
}

bool Failed(const CLoginOutcome& outcome) {
    return !outcome.strMessage.empty();
}

// Wrong credentials and no answer are errors; an array that answers otherwise only warns.
EMessageIcon IconOf(const CLoginOutcome& outcome) {
    return outcome.eResult == ELoginResult::Refused ||
                   outcome.eResult == ELoginResult::TransportError
               ? EMessageIcon::Error
               : EMessageIcon::Warning;
}

// The box of a press whose logins failed more than once: every failure after the first, which
// had a box of its own.
std::u16string SummaryText(const std::vector<std::u16string>& failures) {
    std::u16string text = u"The login also failed on " + Number(failures.size()) +
                          (failures.size() == 1 ? u" other array" : u" other arrays") +
                          u" (IP address (MAC address): reason):";
    const std::size_t listed = std::min(failures.size(), CLoginPress::kSummaryListed);
    for (std::size_t i = 0; i < listed; ++i) {
        text += u"\n" + failures[i];
    }
    if (listed < failures.size()) {
        text += u"\n... and " + Number(failures.size() - listed) +
                u" more, each written to standard error.";
        for (const std::u16string& failure : failures) {
            const std::string line = "OrvaneSrv: login failed: " + Utf16ToUtf8(failure) + "\n";
            std::fputs(line.c_str(), stderr);
        }
    }
    return text;
}

} // namespace

void ShowLoginOnRow(IServerListView& list, const CLoginOutcome& outcome) {
    const std::size_t row = outcome.strMAC.empty()
                                ? list.FindRow(EServerColumn::IPAddr, outcome.strIP)
                                : list.FindRow(EServerColumn::MAC, outcome.strMAC);
    if (row == IServerListView::npos) {
        return;
    }
    if (outcome.bRebind && outcome.eResult == ELoginResult::Succeeded) {
        list.SetCellText(row, EServerColumn::IPAddr, outcome.strIP);
        // Any other claims show again at the end of the next pass.
        list.ShowAddressState(row, EAddressState::Bound, {});
    }
    list.SetCellText(row, EServerColumn::Auth, outcome.bAuthorized ? u"Yes" : u"No");
}

CLoginPress::CLoginPress(std::size_t nLogins, IServerListView& list,
                         std::shared_ptr<IWindowThread> window,
                         std::shared_ptr<IMessageBoxes> boxes,
                         std::function<void(const CLoginOutcome&)> audit)
    : m_list(list), m_pWindow(std::move(window)), m_pBoxes(std::move(boxes)),
      m_audit(std::move(audit)), m_nUnfinished(nLogins) {}

bool CLoginPress::TakeFirstFailure(const CLoginOutcome& outcome) {
    std::lock_guard lock(m_mutex);
    if (!std::exchange(m_bFirstFailureTaken, true)) {
        return true;
    }
    m_listOtherFailures.push_back(outcome.strIP + u" (" + outcome.strMAC + u"): " +
                                  outcome.strMessage);
    return false;
}

std::vector<std::u16string> CLoginPress::FinishOne() {
    std::lock_guard lock(m_mutex);
    if (m_nUnfinished > 0 && --m_nUnfinished == 0) {
        return std::exchange(m_listOtherFailures, {});
    }
    return {};
}

void CLoginPress::OnOutcome(const CLoginOutcome& outcome) {
    if (outcome.bBodyCut) {
        m_pBoxes->Show(u"File overran buffer -- not cached");
    }
    // The audit trail hears of it before any box: the worker then waits for the operator.
    if (m_audit) {
        m_audit(outcome);
    }
    if (Failed(outcome) && TakeFirstFailure(outcome)) {
        m_pBoxes->Show(outcome.strMessage, outcome.strIP, IconOf(outcome), EMessageButtons::Ok);
    }
    // Finished only now: the summary follows the first failure's box, never beside it.
    const std::vector<std::u16string> summary = FinishOne();
    m_pWindow->Send([this, &outcome] { ShowLoginOnRow(m_list, outcome); });
    if (!summary.empty()) {
        m_pBoxes->Show(SummaryText(summary), IMessageBoxes::kProgramName, EMessageIcon::Error,
                       EMessageButtons::Ok);
    }
}
