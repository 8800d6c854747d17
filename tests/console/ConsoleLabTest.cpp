// The real main window against simulated arrays in the namespace lab, driven offscreen: the
// System tab lists what discovery finds, a login through the Login Dialog reaches the credential
// service, a refused login reaches the operator, a host announcing a logged-in array's MAC
// address gains nothing, the window closes at once while a pass and logins are still waiting, a
// login to many arrays keeps at most 32 under way and reports its failures in two boxes, and a
// fleet of 2,000 arrays registered with a directory agent is listed whole after one pass. Each
// test runs itself inside a lab it builds.
#include "core/CDirectoryMessage.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CListCtrl.h"
#include "resources/ResourceIds.h"
#include "tests/console/CConsoleLab.h"
#include "tests/console/ConsoleTestSupport.h"
#include "tests/support/CLogCapture.h"
#include "tests/support/RunShell.h"
#include "tests/tools/CLabArray.h"

#include <QTest>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

std::string Mac(int i) {
    return CLabArray::Generated(i).mac;
}

std::string Ip(int i) {
    return CLabArray::Generated(i).ip;
}

// alice, in a group whose access list names the arrays given.
void AddAlice(COrvaneSrvCore& core, std::initializer_list<int> arrays) {
    auto group = std::make_unique<CGroupData>(u"lab");
    for (const int i : arrays) {
        group->m_listAccess.push_back(Utf8ToUtf16(Mac(i)));
    }
    core.SendMessage(CDirectoryMessage::AddGroup(false, std::move(group)));
    auto user = std::make_unique<CUserData>(u"alice", u"pw");
    user->m_listGroups.push_back(u"lab");
    core.SendMessage(CDirectoryMessage::AddUser(false, std::move(user)));
}

std::string QueryAsAlice() {
    return RunShell("printf 'x\\n' | curl -s --noproxy '*' -u alice:pw --data-binary @- "
                    "http://127.0.0.1:51001/Query");
}

// Connections of this network namespace to the arrays' login port, open or being opened.
std::size_t LoginConnections() {
    constexpr const char* kLoginPort = ":C738"; // 51000
    std::ifstream table("/proc/net/tcp");
    std::size_t count = 0;
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (remote.ends_with(kLoginPort) && (state == "01" || state == "02")) {
            ++count;
        }
    }
    return count;
}

using ConsoleLab = CConsoleLab;

// Standard error, where discovery and the credential service log, goes to a capture file while
// this lives; then what it caught is passed on, so that no sanitizer report is lost.
class CStderrToCapture {
public:
    explicit CStderrToCapture(const CLogCapture& capture)
        : m_capture(capture), m_saved(::dup(STDERR_FILENO)) {
        ::dup2(capture.Fd(), STDERR_FILENO);
    }
    ~CStderrToCapture() {
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        const std::string text = m_capture.Text();
        std::fwrite(text.data(), 1, text.size(), stderr);
    }
    CStderrToCapture(const CStderrToCapture&) = delete;
    CStderrToCapture& operator=(const CStderrToCapture&) = delete;

private:
    const CLogCapture& m_capture;
    int m_saved;
};

// A password push for array 0 from address, sent from namespace ns; the service's answer.
std::string PushFrom(const std::string& address, const std::string& ns,
                     const std::string& password) {
    return RunShell("ip netns exec " + ns + " \"$LAB_SIM\" --address " + address + " --mac " +
                    Mac(0) + " --push-password " + password + " --manager \"$LAB_MGR_ADDR\"");
}

TEST_F(ConsoleLab, TheSystemTabListsTheLabLogsInAndAHostAnnouncingALoggedInMacGainsNothing) {
    if (!InLab()) {
        RunInLab("--arrays 5 --client",
                 {"--admin-password secret", "--admin-password secret", "--admin-password secret"},
                 kShortSchedule);
        return;
    }
    CLogCapture log;
    const CStderrToCapture toLog(log);
    COrvaneSrvDlg& dialog = StartWindow();
    AddAlice(dialog.Core(), {0, 1, 2, 3});
    ASSERT_TRUE(WaitForPassEnd(20s));
    CTabSystem& tab = *dialog.TabSystem();

    // Every array with its attributes.
    ASSERT_EQ(tab.RowCount(), 5u);
    std::vector<std::string> rows;
    std::vector<std::string> expected;
    for (int i = 0; i < 5; ++i) {
        rows.push_back(RowText(static_cast<std::size_t>(i)));
        expected.push_back(CLabArray::Generated(i).Row("No"));
    }
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, expected);

    // Three rows picked with the mouse, then the Login Dialog filled in with keys.
    std::vector<std::size_t> picked;
    for (int i = 0; i < 3; ++i) {
        picked.push_back(tab.FindRow(EServerColumn::IPAddr, Utf8ToUtf16(Ip(i))));
        ClickRow(picked.back(), i == 0 ? Qt::NoModifier : Qt::ControlModifier);
    }
    std::vector<std::size_t> selected = tab.List().GetSelectedRows();
    std::sort(picked.begin(), picked.end());
    ASSERT_EQ(selected, picked);
    ASSERT_TRUE(tab.IsLoginEnabled());
    LoginWithKeys(QStringLiteral("admin"), QStringLiteral("secret"));
    for (const std::size_t row : picked) {
        EXPECT_EQ(tab.CellText(row, EServerColumn::Auth), u"Logging");
    }
    ASSERT_TRUE(RunUntil(
        [&] {
            return std::all_of(picked.begin(), picked.end(), [&](std::size_t row) {
                return tab.CellText(row, EServerColumn::Auth) == u"Yes";
            });
        },
        20s));
    EXPECT_TRUE(Boxes().empty());
    std::string granted = "<StorageServers AdminGroup=\"No\">";
    for (int i = 0; i < 3; ++i) {
        granted += CLabArray::Generated(i).Entry("secret");
    }
    granted += "</StorageServers>";
    EXPECT_EQ(QueryAsAlice(), granted);

    // Wrong credentials: the box, "No", and nothing more for alice.
    const std::size_t wrongRow = tab.FindRow(EServerColumn::IPAddr, Utf8ToUtf16(Ip(3)));
    ClickRow(wrongRow);
    LoginWithKeys(QStringLiteral("admin"), QStringLiteral("wrong"));
    ASSERT_TRUE(RunUntil(
        [&] { return !Boxes().empty() && tab.CellText(wrongRow, EServerColumn::Auth) == u"No"; },
        20s));
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, u"Authentication failed");
    EXPECT_EQ(Boxes()[0].caption, Utf8ToUtf16(Ip(3)));
    EXPECT_EQ(Boxes()[0].icon, EMessageIcon::Error);
    EXPECT_TRUE(Boxes()[0].bFromWorker);
    for (const std::size_t row : picked) {
        EXPECT_EQ(tab.CellText(row, EServerColumn::Auth), u"Yes");
    }
    EXPECT_EQ(QueryAsAlice(), granted);

    const auto rowOf0 = [&] { return tab.FindRow(EServerColumn::MAC, Utf8ToUtf16(Mac(0))); };
    // The client computer announces array 0's MAC address from its own address.
    const std::string hostile = std::getenv("LAB_CLIENT_ADDR");
    const std::string clientNs = std::getenv("LAB_CLIENT_NS");
    const std::string ready = std::string(std::getenv("LAB_DIR")) + "/hostile.ready";
    const std::string pid = RunShell("ip netns exec " + clientNs + " \"$LAB_SIM\" --address " +
                                     hostile + " --mac " + Mac(0) +
                                     " --hostname array-0 --product Z210-R2 --version 1.0.0 "
                                     "--ready-file " +
                                     ready + " >/dev/null 2>&1 & echo $!");
    ASSERT_TRUE(RunUntil([&] { return std::filesystem::exists(ready); }, 20s));
    // The pass under way may have started before; the next one hears both.
    ASSERT_TRUE(WaitForPassEnd(20s));
    ASSERT_TRUE(WaitForPassEnd(20s));

    // Array 0 keeps its row, its address and its authorization; the row and the log tell of the
    // other address.
    ASSERT_NE(rowOf0(), IServerListView::npos);
    EXPECT_EQ(RowText(rowOf0()), CLabArray::Generated(0).Row("Yes"));
    EXPECT_EQ(QueryAsAlice(), granted);
    const std::string conflict = "the array with MAC address " + Mac(0) + " at " + Ip(0) +
                                 " is also announced at " + hostile;
    EXPECT_NE(log.Text().find(conflict), std::string::npos) << log.Text();
    const QVariant tip =
        tab.List().model()->index(ViewPlace(tab.List(), rowOf0()), 0).data(Qt::ToolTipRole);
    EXPECT_NE(tip.toString().toStdString().find(hostile), std::string::npos);
    // The impostor's push is refused; the array's own is taken.
    const std::string refused =
        "<Response><ErrCode>-1</ErrCode><ErrMsg>Server IP is not found.</ErrMsg></Response>";
    EXPECT_NE(PushFrom(hostile, clientNs, "evil").find(refused), std::string::npos);
    const std::string arrayNs = clientNs.substr(0, clientNs.rfind('-')) + "-a0";
    EXPECT_NE(PushFrom(Ip(0), arrayNs, "secret").find("<ErrCode>0</ErrCode>"), std::string::npos);
    EXPECT_EQ(QueryAsAlice(), granted);

    // A login to the array alone goes to its own address, while the impostor still announces.
    ClickRow(rowOf0());
    LoginWithKeys(QStringLiteral("admin"), QStringLiteral("secret"));
    ASSERT_TRUE(
        RunUntil([&] { return tab.CellText(rowOf0(), EServerColumn::Auth) == u"Yes"; }, 20s));
    EXPECT_EQ(QueryAsAlice(), granted);
    EXPECT_EQ(Boxes().size(), 1u) << "the refused login's box only";
    RunShell("kill " + pid);
    StopWindow();
}

TEST_F(ConsoleLab, ClosingTheWindowWhileAPassAndLoginsWaitEndsAtOnce) {
    // The pass and the silent arrays' logins each wait ten seconds: a close that waited for
    // either would take ten times the bound below.
    constexpr auto kLongWait = 10s;
    constexpr auto kCloseBound = 1s;
    // The pass's searches and attribute requests, one after another, and the logins.
    constexpr auto kThreadsEnd = 6 * kLongWait;
    if (!InLab()) {
        RunInLab("--arrays 3", {"--http-mode silent", "--http-mode silent", ""},
                 "net.slp.multicastTimeouts = 10000\nnet.slp.multicastMaximumWait = 10000\n");
        return;
    }
    const std::size_t threadsBefore = ThreadCount();
    CLoginOptions login;
    login.requestTimeout = kLongWait;
    COrvaneSrvDlg& dialog = StartWindow(login);
    CTabSystem& tab = *dialog.TabSystem();
    // The first pass lists the arrays once its search's whole schedule has run.
    ASSERT_TRUE(RunUntil([&tab] { return tab.RowCount() == 3; }, 3 * kLongWait));
    ClickRow(0);
    QTest::keyClick(&tab.List(), Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(tab.List().GetSelectedRows().size(), 3u);
    LoginWithKeys(QStringLiteral("admin"), QStringLiteral("wrong"));
    QTest::mouseClick(tab.GetDlgItem(IDC_REFRESH), Qt::LeftButton);
    ASSERT_FALSE(tab.IsRefreshEnabled()) << "a pass runs";

    EXPECT_LT(StopWindow(), kCloseBound);
    // The pass and the logins end meanwhile and report into the closed window: under
    // AddressSanitizer, anything they touched of it would show here. Every thread the window
    // started is awaited.
    EXPECT_TRUE(RunUntil([threadsBefore] { return ThreadCount() <= threadsBefore; }, kThreadsEnd))
        << ThreadCount() << " threads, " << threadsBefore << " before the window";
}

TEST_F(ConsoleLab, ALoginToManyArraysKeepsAtMost32UnderWayAndReportsInOneBox) {
    // 6 that take the password, 2 that refuse it, 40 that never answer.
    constexpr int kArrays = 48;
    constexpr int kAccepting = 6;
    constexpr int kRefusing = 2;
    if (!InLab()) {
        std::vector<std::string> extra;
        for (int i = 0; i < kArrays; ++i) {
            extra.push_back(i < kAccepting               ? "--admin-password secret"
                            : i < kAccepting + kRefusing ? "--admin-password other"
                                                         : "--http-mode silent");
        }
        RunInLab("--arrays " + std::to_string(kArrays) + " --per-ns 12", extra, kShortSchedule);
        return;
    }
    CLoginOptions login;
    login.requestTimeout = 3s;
    COrvaneSrvDlg& dialog = StartWindow(login);
    ASSERT_TRUE(WaitForPassEnd(20s));
    CTabSystem& tab = *dialog.TabSystem();
    ASSERT_EQ(tab.RowCount(), static_cast<std::size_t>(kArrays));
    ClickRow(0);
    QTest::keyClick(&tab.List(), Qt::Key_A, Qt::ControlModifier);
    LoginWithKeys(QStringLiteral("admin"), QStringLiteral("secret"));
    std::size_t most = 0;
    const auto ended = [&] {
        most = std::max(most, LoginConnections());
        for (std::size_t row = 0; row < tab.RowCount(); ++row) {
            if (tab.CellText(row, EServerColumn::Auth) == u"Logging") {
                return false;
            }
        }
        return true;
    };
    ASSERT_TRUE(RunUntil(ended, 60s));
    std::printf("NOTE: at most %zu logins were under way at once\n", most);
    EXPECT_EQ(most, CLoginPool::kMaxInFlight);
    for (int i = 0; i < kArrays; ++i) {
        const std::size_t row = tab.FindRow(EServerColumn::MAC, Utf8ToUtf16(Mac(i)));
        ASSERT_NE(row, IServerListView::npos);
        EXPECT_EQ(tab.CellText(row, EServerColumn::Auth), i < kAccepting ? u"Yes" : u"No") << i;
    }
    // One box for the press, after its last login has set its own cell: twenty failures by
    // address, the rest counted by reason.
    RunUntil([this] { return !Boxes().empty(); }, 20s);
    QTest::qWait(100); // a second box would come now
    ASSERT_EQ(Boxes().size(), 1u);
    const std::string summary = Utf16ToUtf8(Boxes()[0].text);
    EXPECT_EQ(
        summary.rfind("Logged in to 6 of 48 arrays.\nNot logged in (IP address: reason):\n", 0), 0u)
        << summary;
    EXPECT_NE(summary.find("\n... and 22 more ("), std::string::npos) << summary;
    EXPECT_NE(summary.find(": no answer within 3 s\n"), std::string::npos) << summary;
    EXPECT_EQ(Boxes()[0].icon, EMessageIcon::Error);
    StopWindow();
}

TEST_F(ConsoleLab, TwoThousandArraysThroughADirectoryAgentAreAllListedAfterOnePass) {
    constexpr int kArrays = 2000;
    if (!InLab()) {
        // Every array registers first; the window asks the agent only.
        const std::string waitForRegistrations =
            "printf 'net.slp.DAAddresses = %s\\nnet.slp.activeDADetection = false\\n' "
            "\"$LAB_DA_ADDR\" >\"$LAB_DIR/da.conf\"\n"
            "for i in $(seq 120); do\n"
            "    n=$(OpenSLPConfig=\"$LAB_DIR/da.conf\" orvane-slpfind findsrvs "
            "service:raid.004417 | wc -l)\n"
            "    [ \"$n\" -ge " +
            std::to_string(kArrays) +
            " ] && break\n"
            "    sleep 0.5\n"
            "done\n";
        RunInLab("--arrays " + std::to_string(kArrays) + " --per-ns 500 --da", {},
                 std::string(kShortSchedule) + "net.slp.DAAddresses = 10.77.0.2\n",
                 waitForRegistrations);
        return;
    }
    COrvaneSrvDlg& dialog = StartWindow();
    ASSERT_TRUE(WaitForPassEnd(40s));
    const CTabSystem& tab = *dialog.TabSystem();
    EXPECT_EQ(tab.RowCount(), static_cast<std::size_t>(kArrays));
    std::set<std::size_t> rows;
    for (int i = 0; i < kArrays; ++i) {
        const std::size_t row = tab.FindRow(EServerColumn::MAC, Utf8ToUtf16(Mac(i)));
        ASSERT_NE(row, IServerListView::npos) << Mac(i) << " is missing";
        EXPECT_EQ(tab.CellText(row, EServerColumn::IPAddr), Utf8ToUtf16(Ip(i)));
        rows.insert(row);
    }
    EXPECT_EQ(rows.size(), static_cast<std::size_t>(kArrays));
    StopWindow();
}

} // namespace
