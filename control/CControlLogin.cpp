// The control channel's login; see CControlLogin.h.
#include "control/CControlLogin.h"

#include "control/CLoginPress.h"
#include "control/LoginWords.h"
#include "core/audit/LoginAudit.h"
#include "platform/text/TextConv.h"
#include "platform/text/TextEscape.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

#include <algorithm>
#include <optional>
#include <utility>

struct CControlLogin::CState {
    CControlChannel::CDone done;
    std::function<void()> onFinished;
    std::vector<std::pair<CLoginTarget, std::optional<std::u16string>>> lines;
    std::vector<CTextRow> leftOut;
    // Told to the workers' posts: null once this object is gone.
    std::shared_ptr<CControlLogin*> pSelf;
};

CControlLogin::CControlLogin(COrvaneSrvCore& core, IServerListView& list,
                             std::shared_ptr<IWindowThread> window, CControlChannel::CDone done,
                             std::function<void()> onFinished, CLoginOptions options)
    : m_list(list), m_pWindow(std::move(window)),
      m_audit(LoginAuditor(core.AuditTrail(), "orvanectl")), m_pState(std::make_unique<CState>()) {
    m_pState->done = std::move(done);
    m_pState->onFinished = std::move(onFinished);
    m_pState->pSelf = std::make_shared<CControlLogin*>(this);
    m_pClient = core.MakeServerTableWorker<CLoginClient>(core.LoginPool(), options);
}

CControlLogin::~CControlLogin() {
    *m_pState->pSelf = nullptr;
    // Queued logins go with the client; running ones report to the rows alone.
    m_pClient.reset();
}

void CControlLogin::Start(std::vector<CLoginTarget> targets, std::u16string userName,
                          std::u16string password, std::vector<CTextRow> leftOut) {
    m_pState->leftOut = std::move(leftOut);
    for (const CLoginTarget& target : targets) {
        m_pState->lines.push_back({target, std::nullopt});
        // As the Login button: the row says "Logging" until its answer comes.
        const std::size_t row = m_list.FindRow(EServerColumn::MAC, target.strMAC);
        if (row != IServerListView::npos) {
            m_list.SetCellText(row, EServerColumn::Auth, LoadString(IDS_LOGGING));
        }
    }
    // Each array's outcome is its own line of the reply, so every failure is told rather than
    // summarised. The record shows it first, then the row, then the reply.
    auto onOutcome = [audit = m_audit, window = m_pWindow, &list = m_list,
                      self = m_pState->pSelf](const CLoginOutcome& outcome) {
        audit(outcome);
        window->Post([&list, self, outcome] {
            ShowLoginOnRow(list, outcome);
            if (*self != nullptr) {
                (*self)->Answer(outcome);
            }
        });
    };
    m_pClient->Login(std::move(targets), std::move(userName), std::move(password),
                     std::move(onOutcome));
    FinishIfDone();
}

void CControlLogin::Answer(const CLoginOutcome& outcome) {
    // The record and the row show the outcome already.
    const bool bListed =
        m_list.FindRow(EServerColumn::MAC, outcome.strMAC) != IServerListView::npos;
    for (auto& [target, answer] : m_pState->lines) {
        if (target.strMAC == outcome.strMAC && target.strIP == outcome.strIP && !answer) {
            if (outcome.eResult == ELoginResult::Succeeded) {
                answer = u"Yes";
            } else if (!outcome.strMessage.empty()) {
                answer = LoginOutcomeWords(outcome);
            } else {
                answer = bListed ? u"No" : u"no longer listed";
            }
            break;
        }
    }
    const auto answered = std::ranges::count_if(
        m_pState->lines, [](const auto& line) { return line.second.has_value(); });
    m_pState->done.Progress(static_cast<std::size_t>(answered), m_pState->lines.size());
    FinishIfDone();
}

void CControlLogin::FinishIfDone() {
    CState& state = *m_pState;
    if (std::ranges::any_of(state.lines, [](const auto& line) { return !line.second; })) {
        return;
    }
    CControlReply reply;
    std::vector<CTextRow> rows = std::move(state.leftOut);
    for (const auto& [target, answer] : state.lines) {
        const bool bYes = *answer == u"Yes";
        reply.nStatus = bYes ? reply.nStatus : kFailedStatus;
        rows.push_back({EscapeForTerminal(Utf16ToUtf8(target.strIP)),
                        EscapeForTerminal(Utf16ToUtf8(target.strMAC)), Utf16ToUtf8(*answer)});
    }
    // By address, then MAC.
    std::ranges::sort(rows, [](const CTextRow& a, const CTextRow& b) {
        const uint64_t left = AddressOrder(a[0]);
        const uint64_t right = AddressOrder(b[0]);
        return left != right ? left < right : a < b;
    });
    reply.strOut = TextTable(rows);
    auto done = std::move(state.done);
    auto onFinished = std::move(state.onFinished);
    state.lines.clear();
    if (done) {
        done(std::move(reply));
    }
    // onFinished may let this object go, so it comes last.
    if (onFinished) {
        onFinished();
    }
}
