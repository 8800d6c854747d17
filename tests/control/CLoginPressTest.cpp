// The Login button's outcomes as the operator meets them, fed straight to a press from a worker:
// one box per press after the last row (a lone failure the array's own box, several failures or
// any skipped array one summary sorted by address in plain words), the boxes' captions and icons,
// the Auth cell and the address after a login that moved the array.
#include "control/CLoginPress.h"

#include "platform/text/TextConv.h"
#include "platform/ui/CEventLoop.h"
#include "storage/CServerRowList.h"

#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

// The list and the boxes of a press, logging in one list, in the order things happened, the
// boxes, the audit and the Auth cells set.
class CWitness : public CServerRowList, public IMessageBoxes {
public:
    using IMessageBoxes::Show;
    EMessageAnswer Show(std::u16string_view text, std::u16string_view caption, EMessageIcon icon,
                        EMessageButtons) override {
        Add("box " + Utf16ToUtf8(caption) + "|" + Utf16ToUtf8(text) + "|" +
            std::to_string(static_cast<int>(icon)));
        return EMessageAnswer::Ok;
    }
    void SetCellText(std::size_t row, EServerColumn col, std::u16string_view text) override {
        if (col == EServerColumn::Auth && m_bLogging) {
            Add("row " + Utf16ToUtf8(CellText(row, EServerColumn::IPAddr)) + " " +
                Utf16ToUtf8(text));
        }
        CServerRowList::SetCellText(row, col, text);
    }
    void Add(std::string line) {
        std::lock_guard lock(m_mutex);
        m_lines.push_back(std::move(line));
    }
    std::vector<std::string> Lines() {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    bool m_bLogging = false;

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

CLoginOutcome Outcome(std::u16string mac, std::u16string ip,
                      ELoginResult result = ELoginResult::Succeeded, std::u16string text = {}) {
    CLoginOutcome outcome;
    outcome.strMAC = std::move(mac);
    outcome.strIP = std::move(ip);
    outcome.strUserName = u"admin";
    outcome.eResult = result;
    outcome.strMessage = std::move(text);
    return outcome;
}

CLoginOutcome Failure(const std::u16string& ip, ELoginResult result, std::u16string text) {
    return Outcome(u"m-" + ip, ip, result, std::move(text));
}

class LoginPress : public ::testing::Test {
protected:
    ~LoginPress() override { m_loop.Window()->Close(); }

    void AddRow(const std::u16string& mac, const std::u16string& ip) {
        const std::size_t row = m_rows.AppendRow(ip);
        m_rows.SetCellText(row, EServerColumn::MAC, mac);
    }
    // One press whose logins end in this order, told from one worker while the window thread
    // runs.
    void Press(const std::vector<CLoginOutcome>& outcomes,
               std::vector<CLoginSkipped> skipped = {}) {
        m_rows.m_bLogging = true;
        auto press = std::make_shared<CLoginPress>(
            outcomes.size(), std::move(skipped), m_rows, m_loop.Window(), m_pWitness,
            [this](const CLoginOutcome& outcome) {
                m_rows.Add("audit " + Utf16ToUtf8(outcome.strIP));
            });
        bool bDone = false;
        std::thread worker([&] {
            for (const CLoginOutcome& outcome : outcomes) {
                press->OnOutcome(outcome);
            }
            m_loop.Window()->Post([&bDone] { bDone = true; });
        });
        ASSERT_TRUE(m_loop.RunUntil([&bDone] { return bDone; }));
        worker.join();
    }
    std::u16string Cell(const std::u16string& mac, EServerColumn col) const {
        return m_rows.CellText(m_rows.FindRow(EServerColumn::MAC, mac), col);
    }

    CEventLoop m_loop;
    std::shared_ptr<CWitness> m_pWitness = std::make_shared<CWitness>();
    CWitness& m_rows = *m_pWitness;
};

TEST_F(LoginPress, ManyFailuresMakeOneSummaryAfterTheLastRowSortedByAddressInPlainWords) {
    constexpr int kFailures = 41;
    std::vector<CLoginOutcome> outcomes;
    for (int i = kFailures - 1; i >= 0; --i) { // ending in the reverse order of their addresses
        const std::u16string ip = u"10.0.0." + Utf8ToUtf16(std::to_string(i));
        AddRow(u"m-" + ip, ip);
        outcomes.push_back(Failure(ip, ELoginResult::Refused, u"Authentication failed"));
        if (i == 39) { // a success between them changes nothing of the box
            AddRow(u"ok", u"10.0.1.1");
            outcomes.push_back(Outcome(u"ok", u"10.0.1.1"));
            outcomes.back().bAuthorized = true;
        }
    }
    outcomes[5].eResult = ELoginResult::TransportError;
    outcomes[5].nCode = 28;
    outcomes[5].requestTimeout = std::chrono::seconds(30);
    ::testing::internal::CaptureStderr();
    Press(outcomes, {{u"", u"10.0.0.100", ELoginSkip::NoMac}});
    const std::string err = ::testing::internal::GetCapturedStderr();
    const std::vector<std::string> log = m_rows.Lines();
    ASSERT_EQ(log.size(), 2 * outcomes.size() + 1); // an audit and a row each, then the box
    EXPECT_EQ(log[0], "audit 10.0.0.40");
    EXPECT_EQ(log[1], "row 10.0.0.40 No");
    EXPECT_EQ(log[log.size() - 2], "row 10.0.0.0 No");
    const std::string& summary = log.back();
    EXPECT_TRUE(summary.starts_with("box OrvaneSrv|Logged in to 1 of 43 arrays.\n"
                                    "Not logged in (IP address: reason):\n"
                                    "10.0.0.0: wrong user name or password\n"
                                    "10.0.0.1: wrong user name or password\n"))
        << summary;
    EXPECT_NE(summary.find("\n10.0.0.9: wrong user name or password\n"
                           "10.0.0.10: wrong user name or password\n"),
              std::string::npos)
        << summary;
    EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 2 + 20);
    // Beyond the twenty listed, the rest counted by reason; every one of them on standard error.
    EXPECT_TRUE(summary.ends_with("\n... and 22 more (20 wrong user name or password, 1 announces "
                                  "no MAC address, 1 no answer within 30 s), each written to "
                                  "standard error.|" +
                                  std::to_string(static_cast<int>(EMessageIcon::Error))))
        << summary;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 22) << err;
    EXPECT_NE(err.find("OrvaneSrv: no login sent: 10.0.0.100: announces no MAC address\n"),
              std::string::npos)
        << err;
}

TEST_F(LoginPress, ALoneFailureKeepsTheArraysOwnBoxAndAnySkippedArrayMakesItASummary) {
    const struct {
        ELoginResult result;
        EMessageIcon icon;
    } cases[] = {
        {ELoginResult::Refused, EMessageIcon::Error},
        {ELoginResult::TransportError, EMessageIcon::Error},
        {ELoginResult::NotSupported, EMessageIcon::Warning},
        {ELoginResult::HttpStatus, EMessageIcon::Warning},
    };
    AddRow(u"m-10.0.0.1", u"10.0.0.1");
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        Press({Failure(u"10.0.0.1", c.result, u"why")});
        expected.insert(expected.end(),
                        {"audit 10.0.0.1", "row 10.0.0.1 No",
                         "box 10.0.0.1|why|" + std::to_string(static_cast<int>(c.icon))});
    }
    CLoginOutcome cut = Outcome(u"m-10.0.0.1", u"10.0.0.1");
    cut.bAuthorized = true;
    cut.bBodyCut = true;
    Press({cut});
    expected.insert(expected.end(), {"audit 10.0.0.1", "row 10.0.0.1 Yes",
                                     "box OrvaneSrv|File overran buffer -- not cached|0"});
    EXPECT_EQ(m_rows.Lines(), expected);

    CLoginOutcome notFound = Failure(u"10.0.0.1", ELoginResult::NotSupported, u"Not Support");
    notFound.nCode = 404;
    Press({notFound}, {{u"m-10.0.0.20", u"10.0.0.20", ELoginSkip::NoLogin}});
    EXPECT_EQ(m_rows.Lines().back(), "box OrvaneSrv|Logged in to 0 of 2 arrays.\n"
                                     "Not logged in (IP address: reason):\n"
                                     "10.0.0.1: answered HTTP 404\n"
                                     "10.0.0.20: does not support a login|" +
                                         std::to_string(static_cast<int>(EMessageIcon::Warning)));
}

TEST(LoginWords, EachEndingAndSkipHasItsPlainWords) {
    const struct {
        ELoginResult result;
        long code;
        std::chrono::milliseconds timeout;
        const char16_t* words;
    } cases[] = {
        {ELoginResult::Succeeded, 200, {}, u"logged in"},
        {ELoginResult::Refused, 401, {}, u"wrong user name or password"},
        {ELoginResult::NotSupported, 404, {}, u"answered HTTP 404"},
        {ELoginResult::HttpStatus, 500, {}, u"answered HTTP 500"},
        {ELoginResult::TransportError, 28, std::chrono::milliseconds(2500),
         u"no answer within 3 s"},
        {ELoginResult::TransportError, 7, {}, u"could not connect (refused or unreachable)"},
        {ELoginResult::TransportError, 52, {}, u"closed the connection without answering"},
        {ELoginResult::TransportError, 99, {}, u"connection error 99"},
    };
    for (const auto& c : cases) {
        CLoginOutcome outcome = Outcome(u"m", u"10.0.0.1", c.result);
        outcome.nCode = c.code;
        outcome.requestTimeout = c.timeout;
        EXPECT_EQ(LoginOutcomeWords(outcome), c.words) << c.code;
    }
    EXPECT_EQ(LoginSkipWords(ELoginSkip::NoLogin), u"does not support a login");
    EXPECT_EQ(LoginSkipWords(ELoginSkip::NoMac), u"announces no MAC address");
}

TEST_F(LoginPress, TheRowShowsTheRecordAndALoginThatMovedTheArrayItsNewAddress) {
    AddRow(u"kept", u"10.0.0.1");  // a failed re-login keeps earlier credentials
    AddRow(u"moved", u"10.0.0.2"); // logged in at another address
    AddRow(u"late", u"10.0.0.3");  // moved, but its record went elsewhere meanwhile
    AddRow(u"", u"10.0.0.4");      // no record: found by its address
    CLoginOutcome kept = Failure(u"10.0.0.1", ELoginResult::Refused, u"Authentication failed");
    kept.strMAC = u"kept";
    kept.bAuthorized = true;
    CLoginOutcome moved = Outcome(u"moved", u"10.0.9.2");
    moved.bRebind = moved.bAuthorized = true;
    CLoginOutcome late = Outcome(u"late", u"10.0.9.3", ELoginResult::Superseded);
    late.bRebind = true;
    CLoginOutcome bare = Outcome(u"", u"10.0.0.4", ELoginResult::Superseded);
    Press({kept, moved, late, bare});
    EXPECT_EQ(Cell(u"kept", EServerColumn::Auth), u"Yes");
    EXPECT_EQ(Cell(u"moved", EServerColumn::Auth), u"Yes");
    EXPECT_EQ(Cell(u"moved", EServerColumn::IPAddr), u"10.0.9.2");
    EXPECT_EQ(Cell(u"late", EServerColumn::IPAddr), u"10.0.0.3");
    EXPECT_EQ(Cell(u"late", EServerColumn::Auth), u"No");
    EXPECT_EQ(
        m_rows.CellText(m_rows.FindRow(EServerColumn::IPAddr, u"10.0.0.4"), EServerColumn::Auth),
        u"No");
}

} // namespace
