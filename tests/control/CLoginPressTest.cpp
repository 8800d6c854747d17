// The Login button's outcomes as the operator meets them, fed straight to a press from a worker:
// the first failure's box before its row changes, one summary box after the last row, the boxes'
// captions and icons, the Auth cell and the address after a login that moved the array.
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
    void Press(const std::vector<CLoginOutcome>& outcomes) {
        m_rows.m_bLogging = true;
        auto press =
            std::make_shared<CLoginPress>(outcomes.size(), m_rows, m_loop.Window(), m_pWitness,
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

TEST_F(LoginPress, TheFirstFailureHasItsOwnBoxBeforeItsRowAndTheOthersOneSummaryAfterTheLastRow) {
    constexpr int kFailures = 41;
    std::vector<CLoginOutcome> outcomes;
    for (int i = 0; i < kFailures; ++i) {
        const std::u16string ip = u"10.0.0." + Utf8ToUtf16(std::to_string(i));
        AddRow(u"m-" + ip, ip);
        outcomes.push_back(Failure(ip, ELoginResult::Refused, u"Authentication failed"));
        if (i == 1) { // a success between them changes nothing of the boxes
            AddRow(u"ok", u"10.0.1.1");
            outcomes.push_back(Outcome(u"ok", u"10.0.1.1"));
            outcomes.back().bAuthorized = true;
        }
    }
    ::testing::internal::CaptureStderr();
    Press(outcomes);
    const std::string err = ::testing::internal::GetCapturedStderr();
    const std::vector<std::string> log = m_rows.Lines();
    const std::string error = std::to_string(static_cast<int>(EMessageIcon::Error));
    ASSERT_EQ(log.size(), 2 * outcomes.size() + 2);
    EXPECT_EQ(log[0], "audit 10.0.0.0");
    EXPECT_EQ(log[1], "box 10.0.0.0|Authentication failed|" + error);
    EXPECT_EQ(log[2], "row 10.0.0.0 No");
    EXPECT_EQ(log[5], "audit 10.0.1.1");
    EXPECT_EQ(log[6], "row 10.0.1.1 Yes");
    EXPECT_EQ(log[log.size() - 2], "row 10.0.0.40 No");
    // The other 40: 20 named, the rest counted, every one of them on standard error.
    const std::string& summary = log.back();
    EXPECT_EQ(
        summary.rfind("box OrvaneSrv|The login also failed on 40 other arrays (IP address "
                      "(MAC address): reason):\n10.0.0.1 (m-10.0.0.1): Authentication failed\n",
                      0),
        0u)
        << summary;
    EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 21);
    EXPECT_TRUE(summary.ends_with("\n... and 20 more, each written to standard error.|" + error))
        << summary;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), kFailures - 1) << err;
    EXPECT_NE(err.find("OrvaneSrv: login failed: 10.0.0.40 (m-10.0.0.40): Authentication failed\n"),
              std::string::npos);
}

TEST_F(LoginPress, EachKindOfFailureHasItsIconAndACutBodyItsOwnBox) {
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
                        {"audit 10.0.0.1",
                         "box 10.0.0.1|why|" + std::to_string(static_cast<int>(c.icon)),
                         "row 10.0.0.1 No"});
    }
    CLoginOutcome cut = Outcome(u"m-10.0.0.1", u"10.0.0.1");
    cut.bAuthorized = true;
    cut.bBodyCut = true;
    Press({cut});
    expected.insert(expected.end(), {"box OrvaneSrv|File overran buffer -- not cached|0",
                                     "audit 10.0.0.1", "row 10.0.0.1 Yes"});
    EXPECT_EQ(m_rows.Lines(), expected);
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
