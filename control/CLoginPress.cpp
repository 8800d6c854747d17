// The Login button's outcomes; see CLoginPress.h.
#include "control/CLoginPress.h"

#include "platform/text/Ipv4Literal.h"
#include "platform/text/TextConv.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <map>
#include <tuple>
#include <utility>

namespace {

constexpr std::u16string_view kBodyCutText = u"File overran buffer -- not cached";

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

// One array of the summary: where it is and what happened to it.
struct CSummaryRow {
    std::u16string strIP;
    std::u16string strMAC;
    std::u16string strWords;
    bool bFailed = false; // a login that failed, rather than none sent

    // The box's line: short enough not to wrap in a box, the list beside it names the MAC.
    std::u16string Line() const { return strIP + u": " + strWords; }
    // Standard error's line names the MAC too.
    std::u16string FullLine() const {
        return strIP + (strMAC.empty() ? u"" : u" (" + strMAC + u")") + u": " + strWords;
    }
};

std::vector<CSummaryRow> SortedRows(const std::vector<CLoginOutcome>& failures,
                                    const std::vector<CLoginSkipped>& skipped) {
    std::vector<CSummaryRow> rows;
    rows.reserve(failures.size() + skipped.size());
    for (const CLoginOutcome& outcome : failures) {
        rows.push_back({outcome.strIP, outcome.strMAC, LoginOutcomeWords(outcome), true});
    }
    for (const CLoginSkipped& skip : skipped) {
        rows.push_back({skip.strIP, skip.strMAC, LoginSkipWords(skip.eReason), false});
    }
    std::stable_sort(rows.begin(), rows.end(), [](const CSummaryRow& a, const CSummaryRow& b) {
        return std::tuple(AddressOrder(Utf16ToUtf8(a.strIP)), std::u16string_view(a.strIP)) <
               std::tuple(AddressOrder(Utf16ToUtf8(b.strIP)), std::u16string_view(b.strIP));
    });
    return rows;
}

// The rows left out of the box, counted by reason (the commonest first), and written out whole
// to standard error.
std::u16string LeftOut(std::span<const CSummaryRow> rows) {
    std::map<std::u16string, std::size_t> counts;
    for (const CSummaryRow& row : rows) {
        ++counts[row.strWords];
        const std::string line =
            (row.bFailed ? "OrvaneSrv: login failed: " : "OrvaneSrv: no login sent: ") +
            Utf16ToUtf8(row.FullLine()) + "\n";
        std::fputs(line.c_str(), stderr);
    }
    std::vector<std::pair<std::u16string, std::size_t>> byCount(counts.begin(), counts.end());
    std::stable_sort(byCount.begin(), byCount.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    std::u16string reasons;
    for (const auto& [words, count] : byCount) {
        reasons += (reasons.empty() ? u"" : u", ") + Number(count) + u" " + words;
    }
    return u"... and " + Number(rows.size()) + u" more (" + reasons +
           u"), each written to standard error.";
}

std::u16string SummaryText(const std::vector<CLoginOutcome>& failures,
                           const std::vector<CLoginSkipped>& skipped,
                           const std::vector<std::u16string>& cut, std::size_t nLogins) {
    const std::size_t nArrays = nLogins + skipped.size();
    const std::vector<CSummaryRow> rows = SortedRows(failures, skipped);
    std::u16string text;
    if (nLogins > 0) {
        text = u"Logged in to " + Number(nLogins - failures.size()) + u" of " + Number(nArrays) +
               u" arrays.";
    }
    if (!rows.empty()) {
        text += (nLogins > 0 ? u"\nNot logged in" : u"No login was sent");
        text += u" (IP address: reason):";
    }
    const std::size_t listed = std::min(rows.size(), kPressBoxListed);
    for (std::size_t i = 0; i < listed; ++i) {
        text += u"\n" + rows[i].Line();
    }
    if (listed < rows.size()) {
        text += u"\n" + LeftOut(std::span(rows).subspan(listed));
    }
    if (!cut.empty()) {
        text += u"\nLogged in, but the answer overran the buffer and was not kept whole:";
        for (const std::u16string& ip : cut) {
            text += u" " + ip;
        }
    }
    return text;
}

} // namespace

std::uint64_t AddressOrder(std::string_view address) {
    constexpr unsigned kOctetBits = 8;
    constexpr std::uint64_t kNotAnAddress = std::uint64_t{1} << 32U;
    if (!IsIpv4Literal(address)) {
        return kNotAnAddress;
    }
    std::uint64_t value = 0;
    for (const char* at = address.data(); at < address.data() + address.size(); ++at) {
        unsigned octet = 0;
        at = std::from_chars(at, address.data() + address.size(), octet).ptr;
        value = (value << kOctetBits) | octet;
    }
    return value;
}

std::optional<CPressBox> PressBox(std::vector<CLoginOutcome> notable,
                                  std::vector<CLoginSkipped> skipped, std::size_t nLogins) {
    std::vector<CLoginOutcome> failures;
    std::vector<std::u16string> cut;
    for (CLoginOutcome& outcome : notable) {
        if (Failed(outcome)) {
            failures.push_back(std::move(outcome));
        } else if (outcome.bBodyCut) {
            cut.push_back(outcome.strIP);
        }
    }
    const std::size_t nTold = failures.size() + skipped.size() + cut.size();
    if (nTold == 0) {
        return std::nullopt;
    }
    // Alone, a failure keeps the box the array's own answer has always had.
    if (nTold == 1 && failures.size() == 1) {
        const CLoginOutcome& failure = failures.front();
        return CPressBox{failure.strMessage, failure.strIP, IconOf(failure)};
    }
    if (nTold == 1 && cut.size() == 1) {
        return CPressBox{std::u16string(kBodyCutText), std::u16string(IMessageBoxes::kProgramName),
                         EMessageIcon::None};
    }
    const bool bError = std::any_of(failures.begin(), failures.end(), [](const auto& failure) {
        return IconOf(failure) == EMessageIcon::Error;
    });
    return CPressBox{SummaryText(failures, skipped, cut, nLogins),
                     std::u16string(IMessageBoxes::kProgramName),
                     bError ? EMessageIcon::Error : EMessageIcon::Warning};
}

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
    list.SetCellText(row, EServerColumn::Auth, LoadString(outcome.bAuthorized ? IDS_YES : IDS_NO));
}

CLoginPress::CLoginPress(std::size_t nLogins, std::vector<CLoginSkipped> skipped,
                         IServerListView& list, std::shared_ptr<IWindowThread> window,
                         std::shared_ptr<IMessageBoxes> boxes,
                         std::function<void(const CLoginOutcome&)> audit)
    : m_list(list), m_pWindow(std::move(window)), m_pBoxes(std::move(boxes)),
      m_audit(std::move(audit)), m_nLogins(nLogins), m_nUnfinished(nLogins),
      m_listSkipped(std::move(skipped)) {}

std::optional<CPressBox> CLoginPress::FinishOne(const CLoginOutcome& outcome) {
    std::lock_guard lock(m_mutex);
    if (Failed(outcome) || outcome.bBodyCut) {
        m_listNotable.push_back(outcome);
    }
    if (m_nUnfinished == 0 || --m_nUnfinished > 0) {
        return std::nullopt;
    }
    return PressBox(std::exchange(m_listNotable, {}), std::exchange(m_listSkipped, {}), m_nLogins);
}

void CLoginPress::OnOutcome(const CLoginOutcome& outcome) {
    if (m_audit) {
        m_audit(outcome);
    }
    const std::optional<CPressBox> box = FinishOne(outcome);
    m_pWindow->Send([this, &outcome] { ShowLoginOnRow(m_list, outcome); });
    // After the last row has changed: the operator reads the box beside the list it speaks of.
    if (box) {
        m_pBoxes->Show(box->strText, box->strCaption, box->eIcon, EMessageButtons::Ok);
    }
}
