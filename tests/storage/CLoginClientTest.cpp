// The login to storage servers against loopback peers: the request as the arrays expect it, what
// each kind of answer does to the record, the row and the operator's message boxes, and a
// shutdown while logins are still waiting for their servers.
#include "storage/CLoginClient.h"

#include "platform/text/Base64.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CEventLoop.h"
#include "storage/CServerRowList.h"
#include "tests/platform/http/CLoopbackHttpPeer.h"

#include <gtest/gtest.h>
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
    // The Login button for the row of ip: the request, then "Logging".
    void Start(const std::u16string& ip, const std::u16string& user,
               const std::u16string& password) {
        const std::size_t row = m_list.FindRow(EServerColumn::IPAddr, ip);
        m_pClient->Login(row == IServerListView::npos ? u"gone"
                                                      : m_list.CellText(row, EServerColumn::MAC),
                         ip, user, password);
        if (row != IServerListView::npos) {
            m_list.SetCellText(row, EServerColumn::Auth, u"Logging");
        }
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
    Start(u"127.0.0.1", u"adm\u0141n", u"p:\u00e9");
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
    for (const char16_t* ip : {u"127.0.0.1", u"127.0.0.2", u"127.0.0.3"}) {
        Start(ip, u"admin", u"secret");
    }
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
    // Logged in before: a failure changes only the cell.
    CServerData& record = AddServer(u"m1", u"127.0.0.1");
    record.m_bAuthorized = 1;
    record.m_strLoginUserName = u"admin";
    record.m_strLoginPasswd = u"old";
    record.SetLoginResponse("old body");
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        CLoopbackHttpPeer peer(c.script);
        Client(peer.Port(), c.requestTimeout);
        Start(u"127.0.0.1", u"admin", u"new");
        WaitForLogins();
        EXPECT_EQ(Auth(u"127.0.0.1"), "No") << c.text;
        expected.push_back(Box("127.0.0.1", c.text, c.icon));
    }
    // Nobody listening.
    uint16_t closedPort = 0;
    {
        CLoopbackHttpPeer gone({""});
        closedPort = gone.Port();
    }
    Client(closedPort);
    Start(u"127.0.0.1", u"admin", u"new");
    WaitForLogins();
    expected.push_back(Box("127.0.0.1", "Internet Exception. (ErrorCode: 7)", EMessageIcon::Error));

    EXPECT_EQ(m_pBoxes->Boxes(), expected);
    EXPECT_EQ(record.m_bAuthorized, 1);
    EXPECT_EQ(record.m_strLoginPasswd, u"old");
    EXPECT_EQ(record.m_szLoginResponse, "old body");
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
    Start(u"127.0.0.1", u"admin", u"pw");
    Start(u"127.0.0.4", u"admin", u"pw");
    Start(u"127.0.0.5", u"admin", u"pw");
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
    Start(u"127.0.0.1", u"admin", u"pw");
    Start(u"127.0.0.2", u"admin", u"pw");
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
    Start(u"127.0.0.1", u"admin", u"pw");
    Start(u"127.0.0.2", u"admin", u"pw");
    ASSERT_TRUE(accepts.WaitForRequests(1, 20s));
    ASSERT_TRUE(refuses.WaitForRequests(1, 20s));

    // The window closes, the tables are freed, the tab's objects go; nothing waits for the
    // workers, which still wait for their servers.
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
    EXPECT_EQ(Auth(u"127.0.0.1"), "Logging");
    EXPECT_EQ(Auth(u"127.0.0.2"), "Logging");
}

} // namespace
