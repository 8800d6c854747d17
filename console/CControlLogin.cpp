// The control channel's login; see CControlLogin.h.
#include "console/CControlLogin.h"

#include "console/LoginAudit.h"
#include "platform/text/TextConv.h"
#include "platform/ui/IMessageBoxes.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"
#include "storage/CLoginClient.h"

#include <map>
#include <mutex>
#include <optional>

namespace {

constexpr int kFailed = 1;

// The login client's boxes, answered at once: each text is kept for the array (its caption).
class CCapturedBoxes : public IMessageBoxes {
public:
    using IMessageBoxes::Show;
    EMessageAnswer Show(std::u16string_view text, std::u16string_view caption, EMessageIcon,
                        EMessageButtons buttons) override {
        const std::lock_guard lock(m_mutex);
        std::u16string& kept = m_texts[std::u16string(caption)];
        kept += (kept.empty() ? u"" : u"; ") + std::u16string(text);
        return buttons == EMessageButtons::YesNo ? EMessageAnswer::Yes : EMessageAnswer::Ok;
    }
    std::u16string TextFor(const std::u16string& ip) {
        const std::lock_guard lock(m_mutex);
        const auto it = m_texts.find(ip);
        return it == m_texts.end() ? std::u16string() : it->second;
    }

private:
    std::mutex m_mutex;
    std::map<std::u16string, std::u16string> m_texts;
};

} // namespace

// The System tab's rows as the login client sees them: everything passes through to the real
// rows, and each Auth cell the client sets is one array's answer.
class CControlLogin::CRecorder : public IServerListView {
public:
    CRecorder(IServerListView& list, CControlChannel::CDone done, std::function<void()> onFinished)
        : m_list(list), m_pBoxes(std::make_shared<CCapturedBoxes>()),
          m_pState(std::make_unique<CState>()) {
        m_pState->done = std::move(done);
        m_pState->onFinished = std::move(onFinished);
    }

    std::size_t RowCount() const override { return m_list.RowCount(); }
    std::u16string CellText(std::size_t row, EServerColumn col) const override {
        return m_list.CellText(row, col);
    }
    void SetCellText(std::size_t row, EServerColumn col, std::u16string_view text) override {
        m_list.SetCellText(row, col, text);
    }
    // The cell shows the record (a failed re-login leaves "Yes"); the answer is how it went.
    void ShowLoginResult(std::size_t row, bool bSucceeded, std::u16string_view authText) override {
        m_list.ShowLoginResult(row, bSucceeded, authText);
        Answered(m_list.CellText(row, EServerColumn::IPAddr), bSucceeded);
    }
    std::size_t AppendRow(std::u16string_view ip) override { return m_list.AppendRow(ip); }
    void DeleteRows(std::span<const std::size_t> rows) override { m_list.DeleteRows(rows); }
    std::size_t FindRow(EServerColumn col, std::u16string_view text) const override {
        const std::size_t row = m_list.FindRow(col, text);
        if (row == npos && col == EServerColumn::IPAddr) {
            // The array left the list while its login ran: its answer has no cell to go to.
            Answered(std::u16string(text), false, u"no longer listed");
        }
        return row;
    }
    void SelectAndFocus(std::size_t row) override { m_list.SelectAndFocus(row); }

    void Expect(const CTarget& target) { m_pState->lines.push_back({target, std::nullopt}); }
    const std::shared_ptr<CCapturedBoxes>& Boxes() const { return m_pBoxes; }
    // Answers once every array has; onFinished may let this object go, so it comes last.
    void FinishIfDone() const {
        CState& state = *m_pState;
        for (const auto& line : state.lines) {
            if (!line.second) {
                return;
            }
        }
        CControlReply reply;
        for (const auto& [target, answer] : state.lines) {
            const bool bYes = *answer == u"Yes";
            reply.nStatus = bYes ? reply.nStatus : kFailed;
            reply.strOut += Utf16ToUtf8(target.ip) + "  " + Utf16ToUtf8(target.mac) + "  " +
                            Utf16ToUtf8(*answer) + "\n";
        }
        auto done = std::move(state.done);
        auto onFinished = std::move(state.onFinished);
        state.lines.clear();
        if (done) {
            done(std::move(reply));
        }
        if (onFinished) {
            onFinished();
        }
    }

private:
    void Answered(const std::u16string& ip, bool bYes, std::u16string_view fallback = u"No") const {
        for (auto& [target, answer] : m_pState->lines) {
            if (target.ip == ip && !answer) {
                const std::u16string message = m_pBoxes->TextFor(ip);
                answer = bYes ? u"Yes" : (message.empty() ? std::u16string(fallback) : message);
                break;
            }
        }
        FinishIfDone();
    }

    // What the answers change; the view's const lookups record answers too.
    struct CState {
        CControlChannel::CDone done;
        std::function<void()> onFinished;
        std::vector<std::pair<CTarget, std::optional<std::u16string>>> lines;
    };

    IServerListView& m_list;
    std::shared_ptr<CCapturedBoxes> m_pBoxes;
    std::unique_ptr<CState> m_pState;
    friend class CControlLogin;
    std::unique_ptr<CLoginClient> m_pClient;
};

CControlLogin::CControlLogin(COrvaneSrvCore& core, IServerListView& list,
                             std::shared_ptr<IWindowThread> window, CControlChannel::CDone done,
                             std::function<void()> onFinished, CLoginOptions options)
    : m_pRecorder(std::make_unique<CRecorder>(list, std::move(done), std::move(onFinished))) {
    m_pRecorder->m_pClient = std::make_unique<CLoginClient>(
        core.m_mapServers, core.Guard(), *m_pRecorder, std::move(window), m_pRecorder->Boxes(),
        WithLoginAudit(std::move(options), core.AuditTrail(), "orvanectl"));
}

CControlLogin::~CControlLogin() {
    // The client first: its workers must find it gone before the rows they report to.
    if (m_pRecorder) {
        m_pRecorder->m_pClient.reset();
    }
}

void CControlLogin::Start(std::vector<CTarget> targets, std::u16string userName,
                          std::u16string password) {
    for (const CTarget& target : targets) {
        m_pRecorder->Expect(target);
    }
    std::vector<CLoginTarget> press;
    for (const CTarget& target : targets) {
        press.push_back({target.mac, target.ip});
        // As the Login button: the row says "Logging" until its answer comes.
        const std::size_t row = m_pRecorder->m_list.FindRow(EServerColumn::IPAddr, target.ip);
        if (row != IServerListView::npos) {
            m_pRecorder->m_list.SetCellText(row, EServerColumn::Auth, LoadString(IDS_LOGGING));
        }
    }
    // One press through the same bounded pool as the button; each array's message is its own
    // line of the reply, so every failure is captured rather than summarised.
    m_pRecorder->m_pClient->Login(std::move(press), std::move(userName), std::move(password),
                                  CLoginClient::EFailureBoxes::Each);
    m_pRecorder->FinishIfDone();
}
