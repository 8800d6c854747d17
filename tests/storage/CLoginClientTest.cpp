// The login to storage servers against loopback peers: the request as the arrays expect it, what
// each kind of answer does to the record, the row and the operator's message boxes, and a
// shutdown while logins are still waiting for their servers.
#include "storage/CLoginClient.h"

#include "platform/text/Base64.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CEventLoop.h"
#include "storage/CServerRowList.h"
#include "tests/platform/http/CLoopbackHttpPeer.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using EAnswer = CLoopbackHttpPeer::EAnswer;

constexpr int kGuardTimer = 999;

// Message boxes answered at once and kept for the test, from any thread.
class CRecordingBoxes : public IMessageBoxes {
public:
    using IMessageBoxes::Show;
    EMessageAnswer Show(std::u16string_view text, std::u16string_view caption, EMessageIcon icon,
                        EMessageButtons) override {
        std::lock_guard lock(m_mutex);
        m_listBoxes.push_back(Utf16ToUtf8(caption) + "|" + Utf16ToUtf8(text) + "|" +
                              std::to_string(static_cast<int>(icon)));
        return EMessageAnswer::Ok;
    }
    std::vector<std::string> Boxes() {
        std::lock_guard lock(m_mutex);
        return m_listBoxes;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_listBoxes;
};

std::string Box(const std::string& caption, const std::string& text, EMessageIcon icon) {
    return caption + "|" + text + "|" + std::to_string(static_cast<int>(icon));
}

class Login : public ::testing::Test {
protected:
    ~Login() override {
        m_pClient.reset();
        m_loop.Window()->Close();
    }

    // A server with its record and its row, the row saying "No".
    CServerData& AddServer(const std::u16string& mac, const std::u16string& ip) {
        auto record = std::make_unique<CServerData>();
        record->SetMAC(Utf16ToUtf8(mac));
        record->SetIPAddr(Utf16ToUtf8(ip));
        CServerData& added = *record;
        m_table.Add(mac, std::move(record));
        AddRow(mac, ip);
        return added;
    }
    void AddRow(const std::u16string& mac, const std::u16string& ip) {
        const std::size_t row = m_list.AppendRow(ip);
        m_list.SetCellText(row, EServerColumn::MAC, mac);
        m_list.SetCellText(row, EServerColumn::Auth, u"No");
    }
    // A client for servers answering on port.
    void Client(uint16_t port, std::chrono::milliseconds requestTimeout = 20s) {
        CLoginOptions options;
        options.nPort = port;
        options.connectTimeout = 5s;
        options.requestTimeout = requestTimeout;
        m_pClient = std::make_unique<CLoginClient>(m_table, m_pGuard, m_list, m_loop.Window(),
                                                   m_pBoxes, options);
    }
    // The Login button for the rows of these addresses: "Logging", then the requests.
    void Start(std::initializer_list<std::u16string> ips, const std::u16string& user,
               const std::u16string& password) {
        std::vector<CLoginTarget> targets;
        for (const std::u16string& ip : ips) {
            const std::size_t row = m_list.FindRow(EServerColumn::IPAddr, ip);
            targets.push_back(
                {row == IServerListView::npos ? u"gone" : m_list.CellText(row, EServerColumn::MAC),
                 ip});
            if (row != IServerListView::npos) {
                m_list.SetCellText(row, EServerColumn::Auth, u"Logging");
            }
        }
        m_pClient->Login(std::move(targets), user, password);
    }
    void WaitForLogins() {
        m_loop.SetTimer(kGuardTimer, 60s, [&] { m_loop.Quit(); });
        ASSERT_TRUE(m_loop.RunUntil([&] { return m_pClient->RunningLogins() == 0; }));
        m_loop.KillTimer(kGuardTimer);
    }
    std::string Auth(const std::u16string& ip) const {
        return Utf16ToUtf8(
            m_list.CellText(m_list.FindRow(EServerColumn::IPAddr, ip), EServerColumn::Auth));
    }

    CEventLoop m_loop;
    CServerTable m_table;
    std::shared_ptr<CTableGuard> m_pGuard = std::make_shared<CTableGuard>();
    CServerRowList m_list;
    std::shared_ptr<CRecordingBoxes> m_pBoxes = std::make_shared<CRecordingBoxes>();
    std::unique_ptr<CLoginClient> m_pClient;
};

TEST_F(Login, TheRequestReachesTheServerAsTheArraysExpectIt) {
    CLoopbackHttpPeer peer({CLoopbackHttpPeer::Reply(200, "")});
    ASSERT_NE(peer.Port(), 0);
    AddServer(u"m1", u"127.0.0.1");
    Client(peer.Port());
    // Only the low 8 bits of each character travel: U+0141 becomes 'A', U+00E9 stays 0xE9.
    Start({u"127.0.0.1"}, u"adm\u0141n", u"p:\u00e9");
    WaitForLogins();
    ASSERT_EQ(peer.Requests().size(), 1u);
    const std::string sent = peer.Requests()[0];
    const std::string credentials = Base64Encode("admAn:p:\xE9");
    EXPECT_EQ(sent.rfind("POST /api/tarvik_storage_server_x.php HTTP/1.1\r\n", 0), 0u) << sent;
    const std::size_t auth = sent.find("\r\nAuthorization:Basic " + credentials + "\r\n");
    const std::size_t type = sent.find("\r\nContent-Type: application/x-www-form-urlencoded\r\n");
    EXPECT_NE(auth, std::string::npos) << sent;
    EXPECT_NE(type, std::string::npos) << sent;
    EXPECT_LT(auth, type);
    EXPECT_NE(sent.find("\r\nUser-Agent: OrvaneSrv\r\n"), std::string::npos);
    EXPECT_NE(sent.find("\r\nContent-Length: 16\r\n"), std::string::npos);
    EXPECT_EQ(sent.substr(sent.find("\r\n\r\n") + 4), "op=query&query=0");
}

TEST_F(Login, ASuccessfulLoginKeepsTheCredentialsAndTheBody) {
    CLoopbackHttpPeer peer({CLoopbackHttpPeer::Reply(200, "<ok/>")});
    CLoopbackHttpPeer empty({CLoopbackHttpPeer::Reply(200, "")}, "127.0.0.2", peer.Port());
    // A body one byte longer than the buffer holds.
    CLoopbackHttpPeer large({CLoopbackHttpPeer::Reply(200, std::string(81920, 'x'))}, "127.0.0.3",
                            peer.Port());
    ASSERT_NE(empty.Port(), 0);
    ASSERT_NE(large.Port(), 0);
    CServerData& ok = AddServer(u"m1", u"127.0.0.1");
    CServerData& none = AddServer(u"m2", u"127.0.0.2");
    none.SetLoginResponse("earlier");
    CServerData& big = AddServer(u"m3", u"127.0.0.3");
    // A login again replaces the credentials that the record lists.
    ok.m_bAuthorized = 1;
    ok.SetLoginCredentials(u"earlier", u"old");
    Client(peer.Port());
    Start({u"127.0.0.1", u"127.0.0.2", u"127.0.0.3"}, u"admin", u"secret");
    EXPECT_EQ(Auth(u"127.0.0.1"), "Logging");
    WaitForLogins();
    for (const CServerData* record : {&ok, &none, &big}) {
        EXPECT_EQ(record->m_bAuthorized, 1);
        EXPECT_EQ(record->m_strLoginUserName, u"admin");
        EXPECT_EQ(record->m_strLoginPasswd, u"secret");
        EXPECT_TRUE(record->Element().ends_with(R"( LoginUserName="admin" LoginPasswd="secret"/>)"))
            << record->Element();
    }
    EXPECT_EQ(ok.m_szLoginResponse, "<ok/>");
    EXPECT_EQ(none.m_szLoginResponse, "");
    EXPECT_EQ(big.m_szLoginResponse, std::string(81919, 'x'));
    for (const char16_t* ip : {u"127.0.0.1", u"127.0.0.2", u"127.0.0.3"}) {
        EXPECT_EQ(Auth(ip), "Yes");
    }
    // Only the overrun says anything, as a plain box of the program.
    EXPECT_EQ(m_pBoxes->Boxes(),
              std::vector<std::string>{
                  Box("OrvaneSrv", "File overran buffer -- not cached", EMessageIcon::None)});
}

TEST_F(Login, FailuresShowABoxCaptionedWithTheAddressAndKeepTheRecord) {
    // Only the silent peer is ever timed out: it never answers, so its short timeout always
    // ends it, and every peer that answers has a timeout no busy machine reaches.
    struct Case {
        CLoopbackHttpPeer::CScript script;
        std::string text;
        EMessageIcon icon;
        std::chrono::milliseconds requestTimeout = 30s;
    };
    const Case cases[] = {
        {{CLoopbackHttpPeer::Reply(401, "no")}, "Authentication failed", EMessageIcon::Error},
        {{CLoopbackHttpPeer::Reply(404, "")}, "Not Support", EMessageIcon::Warning},
        {{CLoopbackHttpPeer::Reply(418, "")}, "Http Status Code: 418", EMessageIcon::Warning},
        {{"", EAnswer::Silent}, "Internet Exception. (ErrorCode: 28)", EMessageIcon::Error, 100ms},
        {{"", EAnswer::Close}, "Internet Exception. (ErrorCode: 52)", EMessageIcon::Error},
    };
    // Logged in before: a failure changes nothing, and the cell goes on saying so.
    CServerData& record = AddServer(u"m1", u"127.0.0.1");
    record.m_bAuthorized = 1;
    record.m_strLoginUserName = u"admin";
    record.m_strLoginPasswd = u"old";
    record.SetLoginResponse("old body");
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        CLoopbackHttpPeer peer(c.script);
        Client(peer.Port(), c.requestTimeout);
        Start({u"127.0.0.1"}, u"admin", u"new");
        WaitForLogins();
        EXPECT_EQ(Auth(u"127.0.0.1"), "Yes") << c.text;
        expected.push_back(Box("127.0.0.1", c.text, c.icon));
    }
    // Nobody listening.
    uint16_t closedPort = 0;
    {
        CLoopbackHttpPeer gone({""});
        closedPort = gone.Port();
    }
    Client(closedPort);
    Start({u"127.0.0.1"}, u"admin", u"new");
    WaitForLogins();
    expected.push_back(Box("127.0.0.1", "Internet Exception. (ErrorCode: 7)", EMessageIcon::Error));

    EXPECT_EQ(m_pBoxes->Boxes(), expected);
    EXPECT_EQ(record.m_bAuthorized, 1);
    EXPECT_EQ(record.m_strLoginPasswd, u"old");
    EXPECT_EQ(record.m_szLoginResponse, "old body");
}

TEST_F(Login, APressOnManyServersRunsAtMost32AtOnceAndSumsUpItsFailuresInOneBox) {
    constexpr std::size_t kServers = 40;
    CLoopbackHttpPeer peer({CLoopbackHttpPeer::Reply(401, ""), EAnswer::ReplyWhenReleased});
    std::vector<CLoginTarget> targets;
    for (std::size_t i = 0; i < kServers; ++i) {
        targets.push_back({u"m" + Utf8ToUtf16(std::to_string(i)), u"127.0.0.1"});
    }
    AddRow(u"m0", u"127.0.0.1");
    Client(peer.Port());
    ::testing::internal::CaptureStderr();
    m_pClient->Login(targets, u"admin", u"pw");
    ASSERT_TRUE(peer.WaitForRequests(CLoginClient::kMaxConcurrentLogins, 20s));
    // The others queue until one of these ends.
    EXPECT_FALSE(peer.WaitForRequests(CLoginClient::kMaxConcurrentLogins + 1, 1s));
    EXPECT_EQ(peer.Connections(), CLoginClient::kMaxConcurrentLogins);
    EXPECT_EQ(m_pClient->RunningLogins(), kServers);
    peer.Release();
    WaitForLogins();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(peer.Requests().size(), kServers);
    EXPECT_EQ(Auth(u"127.0.0.1"), "No");

    // The first failure's box, then one summary of the other 39: 20 named, the rest counted,
    // every one of them on standard error.
    const std::vector<std::string> boxes = m_pBoxes->Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], Box("127.0.0.1", "Authentication failed", EMessageIcon::Error));
    const std::string& summary = boxes[1];
    EXPECT_EQ(summary.rfind("OrvaneSrv|The login also failed on 39 other arrays", 0), 0u)
        << summary;
    EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 21);
    EXPECT_NE(summary.find("\n127.0.0.1 (m"), std::string::npos) << summary;
    EXPECT_NE(summary.find("): Authentication failed\n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("\n... and 19 more, each written to standard error.|" +
                           std::to_string(static_cast<int>(EMessageIcon::Error))),
              std::string::npos)
        << summary;
    std::size_t logged = 0;
    for (std::size_t at = 0;
         (at = err.find("OrvaneSrv: login failed: 127.0.0.1 (m", at)) != std::string::npos; ++at) {
        ++logged;
    }
    EXPECT_EQ(logged, kServers - 1) << err;
}

TEST_F(Login, APressWithFailuresOfEveryKindNamesEachButTheFirstInTheSummary) {
    CLoopbackHttpPeer ok({CLoopbackHttpPeer::Reply(200, "")});
    CLoopbackHttpPeer refused({CLoopbackHttpPeer::Reply(401, "")}, "127.0.0.2", ok.Port());
    CLoopbackHttpPeer old({CLoopbackHttpPeer::Reply(404, "")}, "127.0.0.3", ok.Port());
    CLoopbackHttpPeer silent({"", EAnswer::Silent}, "127.0.0.4", ok.Port());
    ASSERT_NE(silent.Port(), 0);
    const std::map<std::u16string, std::string> failures = {
        {u"127.0.0.2", "Authentication failed"},
        {u"127.0.0.3", "Not Support"},
        {u"127.0.0.4", "Internet Exception. (ErrorCode: 28)"},
    };
    AddServer(u"m1", u"127.0.0.1");
    for (const auto& [ip, text] : failures) {
        AddServer(u"m" + ip.substr(ip.size() - 1), ip);
    }
    Client(ok.Port(), 500ms);
    Start({u"127.0.0.1", u"127.0.0.2", u"127.0.0.3", u"127.0.0.4"}, u"admin", u"pw");
    WaitForLogins();
    EXPECT_EQ(Auth(u"127.0.0.1"), "Yes");
    const std::vector<std::string> boxes = m_pBoxes->Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    std::string expected = "OrvaneSrv|The login also failed on 2 other arrays (IP address (MAC "
                           "address): reason):";
    std::size_t first = 0;
    for (const auto& [ip, text] : failures) {
        const std::string address = Utf16ToUtf8(ip);
        EXPECT_EQ(Auth(ip), "No");
        if (boxes[0].rfind(address + "|", 0) == 0) {
            ++first;
            EXPECT_EQ(boxes[0].substr(0, boxes[0].rfind('|')), address + "|" + text);
        } else {
            EXPECT_NE(boxes[1].find("\n" + address + " (m" + address.back() + "): " + text),
                      std::string::npos)
                << boxes[1];
        }
    }
    EXPECT_EQ(first, 1u) << boxes[0];
    EXPECT_EQ(boxes[1].rfind(expected, 0), 0u) << boxes[1];
    EXPECT_EQ(std::count(boxes[1].begin(), boxes[1].end(), '\n'), 2);
}

TEST_F(Login, OnlyTheRowOfThatExactAddressChangesAndASweptServerGetsNothing) {
    CLoopbackHttpPeer peer({CLoopbackHttpPeer::Reply(200, "")});
    AddServer(u"m1", u"127.0.0.1");
    AddServer(u"m10", u"127.0.0.10"); // begins with the other's address
    // A row whose record was swept while the login ran, and a login whose row went too.
    AddRow(u"m4", u"127.0.0.4");
    CLoopbackHttpPeer four({CLoopbackHttpPeer::Reply(200, "")}, "127.0.0.4", peer.Port());
    CLoopbackHttpPeer five({CLoopbackHttpPeer::Reply(200, "")}, "127.0.0.5", peer.Port());
    Client(peer.Port());
    for (const char16_t* ip : {u"127.0.0.1", u"127.0.0.4", u"127.0.0.5"}) {
        Start({ip}, u"admin", u"pw"); // a press each: no summary
    }
    WaitForLogins();
    EXPECT_EQ(Auth(u"127.0.0.1"), "Yes");
    EXPECT_EQ(Auth(u"127.0.0.10"), "No");
    EXPECT_EQ(Auth(u"127.0.0.4"), "No");
    EXPECT_EQ(m_table.Find(u"m10")->m_bAuthorized, 0);
    EXPECT_EQ(m_table.Find(u"m4"), nullptr);
    EXPECT_EQ(m_table.Find(u"gone"), nullptr);
    EXPECT_EQ(m_table.Size(), 2u);
    EXPECT_TRUE(m_pBoxes->Boxes().empty());
    EXPECT_EQ(five.Requests().size(), 1u);
}

TEST_F(Login, ALoginAuthorizesAtItsAddressAndNotAServerThatMovedMeanwhile) {
    CLoopbackHttpPeer stays({CLoopbackHttpPeer::Reply(200, ""), EAnswer::ReplyWhenReleased});
    CLoopbackHttpPeer moves({CLoopbackHttpPeer::Reply(200, ""), EAnswer::ReplyWhenReleased},
                            "127.0.0.2", stays.Port());
    ASSERT_NE(moves.Port(), 0);
    CServerData& kept = AddServer(u"m1", u"127.0.0.1");
    CServerData& moved = AddServer(u"m2", u"127.0.0.2");
    Client(stays.Port());
    Start({u"127.0.0.1", u"127.0.0.2"}, u"admin", u"pw");
    ASSERT_TRUE(stays.WaitForRequests(1, 20s));
    ASSERT_TRUE(moves.WaitForRequests(1, 20s));
    // Discovery sees the second server at another address while its login is out.
    {
        auto lock = m_pGuard->LockExclusive();
        moved.SetIPAddr("127.0.0.66");
    }
    stays.Release();
    moves.Release();
    WaitForLogins();
    EXPECT_EQ(kept.m_bAuthorized, 1);
    EXPECT_STREQ(kept.m_szAuthorizedIP, "127.0.0.1");
    EXPECT_EQ(moved.m_bAuthorized, 0);
    EXPECT_EQ(moved.m_strLoginPasswd, u"");
    EXPECT_STREQ(moved.m_szAuthorizedIP, "");
    EXPECT_EQ(Auth(u"127.0.0.1"), "Yes");
    EXPECT_EQ(Auth(u"127.0.0.2"), "No");
}

TEST_F(Login, ShutdownWhileLoginsWaitLeavesTheirResultsNowhereToGo) {
    CLoopbackHttpPeer accepts({CLoopbackHttpPeer::Reply(200, "late"), EAnswer::ReplyWhenReleased});
    CLoopbackHttpPeer refuses({"", EAnswer::Silent}, "127.0.0.2", accepts.Port());
    ASSERT_NE(refuses.Port(), 0);
    AddServer(u"m1", u"127.0.0.1");
    AddServer(u"m2", u"127.0.0.2");
    Client(accepts.Port());
    // One press: the silent server, then enough logins to the other to fill the pool and queue
    // nine more.
    constexpr std::size_t kQueued = 9;
    std::vector<CLoginTarget> targets = {{u"m2", u"127.0.0.2"}};
    targets.resize(CLoginClient::kMaxConcurrentLogins + kQueued, {u"m1", u"127.0.0.1"});
    m_pClient->Login(targets, u"admin", u"pw");
    for (std::size_t row : {0, 1}) {
        m_list.SetCellText(row, EServerColumn::Auth, u"Logging");
    }
    const std::size_t started = CLoginClient::kMaxConcurrentLogins - 1;
    ASSERT_TRUE(accepts.WaitForRequests(started, 20s));
    ASSERT_TRUE(refuses.WaitForRequests(1, 20s));

    // The window closes, the tables are freed, the tab's objects go; nothing waits for the
    // workers, which still wait for their servers, and the queued logins are never started.
    m_loop.Window()->Close();
    {
        auto lock = m_pGuard->LockExclusive();
        m_pGuard->m_bTablesAlive = false;
        m_table.Clear();
    }
    m_pClient.reset();
    std::weak_ptr<CRecordingBoxes> boxes = m_pBoxes;
    m_pBoxes.reset();

    // Now the answers come: a 200 for a record that is gone, and a connection closed unanswered.
    accepts.Release();
    refuses.Release();
    while (!boxes.expired()) {
        std::this_thread::yield(); // the workers hold the boxes until they end
    }
    EXPECT_EQ(m_table.Size(), 0u);
    EXPECT_EQ(accepts.Requests().size(), started);
    EXPECT_EQ(Auth(u"127.0.0.1"), "Logging");
    EXPECT_EQ(Auth(u"127.0.0.2"), "Logging");
}

} // namespace
