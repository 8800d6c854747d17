// The login to storage servers against loopback peers: the request as the arrays expect it, what
// each kind of answer does to the record and which outcome it tells, the pool's cap on one
// request, and a shutdown while logins are still waiting for their servers.
#include "storage/CLoginClient.h"

#include "platform/text/Base64.h"
#include "platform/text/TextConv.h"
#include "tests/platform/http/CLoopbackHttpPeer.h"
#include "tests/support/WaitUntil.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <mutex>

namespace {

using namespace std::chrono_literals;
using EAnswer = CLoopbackHttpPeer::EAnswer;

// The outcomes told so far, from any worker.
class COutcomes {
public:
    CLoginClient::COnOutcome Sink() {
        return [this](const CLoginOutcome& outcome) {
            std::lock_guard lock(m_mutex);
            m_list.push_back(outcome);
        };
    }
    bool WaitFor(std::size_t n) {
        return WaitUntil([&] { return All().size() >= n; });
    }
    std::vector<CLoginOutcome> All() {
        std::lock_guard lock(m_mutex);
        return m_list;
    }
    // The one outcome of the login to that address.
    CLoginOutcome At(const std::u16string& ip) {
        for (const CLoginOutcome& outcome : All()) {
            if (outcome.strIP == ip) {
                return outcome;
            }
        }
        ADD_FAILURE() << "no outcome for " << Utf16ToUtf8(ip);
        return {};
    }

private:
    std::mutex m_mutex;
    std::vector<CLoginOutcome> m_list;
};

class Login : public ::testing::Test {
protected:
    CServerData& AddServer(const std::u16string& mac, const std::u16string& ip) {
        auto record = std::make_unique<CServerData>();
        record->SetMAC(Utf16ToUtf8(mac));
        record->SetIPAddr(Utf16ToUtf8(ip));
        CServerData& added = *record;
        m_table.Add(mac, std::move(record));
        return added;
    }
    void Client(uint16_t port, std::chrono::milliseconds requestTimeout = 20s) {
        m_pClient = std::make_unique<CLoginClient>(
            m_table, m_pGuard, m_pPool,
            CLoginOptions{.nPort = port, .connectTimeout = 5s, .requestTimeout = requestTimeout});
    }
    // One request to these arrays (MAC, address), then its end.
    void LoginTo(std::vector<CLoginTarget> targets, const std::u16string& user = u"admin",
                 const std::u16string& password = u"pw") {
        const std::size_t expected = m_outcomes.All().size() + targets.size();
        m_pClient->Login(std::move(targets), user, password, m_outcomes.Sink());
        ASSERT_TRUE(m_outcomes.WaitFor(expected));
        ASSERT_TRUE(WaitUntil([&] { return m_pClient->RunningLogins() == 0; }));
    }

    CServerTable m_table;
    std::shared_ptr<CTableGuard> m_pGuard = std::make_shared<CTableGuard>();
    std::shared_ptr<CLoginPool> m_pPool = std::make_shared<CLoginPool>();
    COutcomes m_outcomes;
    std::unique_ptr<CLoginClient> m_pClient;
};

TEST_F(Login, TheRequestReachesTheServerAsTheArraysExpectIt) {
    CLoopbackHttpPeer peer({CLoopbackHttpPeer::Reply(200, "")});
    ASSERT_NE(peer.Port(), 0);
    AddServer(u"m1", u"127.0.0.1");
    Client(peer.Port());
    // Only the low 8 bits of each character travel: U+0141 becomes 'A', U+00E9 stays 0xE9.
    LoginTo({{u"m1", u"127.0.0.1"}}, u"adm\u0141n", u"p:\u00e9");
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
    EXPECT_EQ(m_outcomes.At(u"127.0.0.1").strUserName, u"adm\u0141n");
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
    // An array with credentials of its own gets those, the others the request's.
    CLoginTarget own{u"m4", u"127.0.0.1"};
    own.credentials = CLoginCredentials{u"root", u"own"};
    own.bRemembered = true;
    CServerData& mine = AddServer(u"m4", u"127.0.0.1");
    LoginTo({{u"m1", u"127.0.0.1"}, {u"m2", u"127.0.0.2"}, {u"m3", u"127.0.0.3"}, own}, u"admin",
            u"secret");
    // The record notes when and how its credentials were verified, for the Auth cell's tip.
    ASSERT_TRUE(mine.LoginHistory().verified.has_value());
    EXPECT_TRUE(mine.LoginHistory().verified->bRemembered);
    ASSERT_TRUE(ok.LoginHistory().last.has_value());
    EXPECT_EQ(ok.LoginHistory().last->eResult, ELoginResult::Succeeded);
    EXPECT_FALSE(ok.LoginHistory().verified->bRemembered);
    EXPECT_EQ(mine.m_strLoginUserName, u"root");
    EXPECT_EQ(mine.m_strLoginPasswd, u"own");
    EXPECT_TRUE(std::ranges::any_of(peer.Requests(), [](const std::string& sent) {
        return sent.find("Basic " + Base64Encode("root:own") + "\r\n") != std::string::npos;
    }));
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
    for (const CLoginOutcome& outcome : m_outcomes.All()) {
        EXPECT_EQ(outcome.strUserName, outcome.strMAC == u"m4" ? u"root" : u"admin");
        EXPECT_EQ(outcome.eResult, ELoginResult::Succeeded);
        EXPECT_EQ(outcome.nCode, 200);
        EXPECT_TRUE(outcome.bAuthorized);
        EXPECT_EQ(outcome.strMessage, u"");
        // Only the overrun is told as such.
        EXPECT_EQ(outcome.bBodyCut, outcome.strMAC == u"m3") << Utf16ToUtf8(outcome.strMAC);
    }
}

TEST_F(Login, FailuresKeepTheRecordAndTellWhatWentWrong) {
    // Only the silent peer is ever timed out: it never answers, so its short timeout always
    // ends it, and every peer that answers has a timeout no busy machine reaches.
    struct Case {
        CLoopbackHttpPeer::CScript script;
        ELoginResult result;
        long code;
        std::u16string text;
        std::chrono::milliseconds requestTimeout = 30s;
    };
    const Case cases[] = {
        {{CLoopbackHttpPeer::Reply(401, "no")},
         ELoginResult::Refused,
         401,
         u"Authentication failed"},
        {{CLoopbackHttpPeer::Reply(404, "")}, ELoginResult::NotSupported, 404, u"Not Support"},
        {{CLoopbackHttpPeer::Reply(418, "")},
         ELoginResult::HttpStatus,
         418,
         u"Http Status Code: 418"},
        {{"", EAnswer::Silent},
         ELoginResult::TransportError,
         28,
         u"Internet Exception. (ErrorCode: 28)",
         100ms},
        {{"", EAnswer::Close},
         ELoginResult::TransportError,
         52,
         u"Internet Exception. (ErrorCode: 52)"},
        // Nobody listening: the peer is gone before the login.
        {{""}, ELoginResult::TransportError, 7, u"Internet Exception. (ErrorCode: 7)"},
    };
    // Logged in before: a failure changes nothing, and the outcome says the credentials stay.
    CServerData& record = AddServer(u"m1", u"127.0.0.1");
    record.m_bAuthorized = 1;
    record.m_strLoginUserName = u"admin";
    record.m_strLoginPasswd = u"old";
    record.SetLoginResponse("old body");
    for (const Case& c : cases) {
        auto peer = std::make_unique<CLoopbackHttpPeer>(c.script);
        Client(peer->Port(), c.requestTimeout);
        if (c.code == 7) {
            peer.reset();
        }
        LoginTo({{u"m1", u"127.0.0.1", false, false}}, u"admin", u"new");
        const CLoginOutcome outcome = m_outcomes.All().back();
        EXPECT_EQ(outcome.eResult, c.result) << Utf16ToUtf8(c.text);
        EXPECT_EQ(outcome.nCode, c.code) << Utf16ToUtf8(c.text);
        EXPECT_EQ(outcome.strMessage, c.text);
        EXPECT_TRUE(outcome.bAuthorized) << Utf16ToUtf8(c.text);
        EXPECT_FALSE(outcome.bKnown);
        // The failure is noted on the record; nothing was verified by it.
        ASSERT_TRUE(record.LoginHistory().last.has_value());
        EXPECT_EQ(record.LoginHistory().last->eResult, c.result);
        EXPECT_EQ(record.LoginHistory().last->nCode, c.code);
        EXPECT_FALSE(record.LoginHistory().verified.has_value());
    }
    EXPECT_EQ(record.m_bAuthorized, 1);
    EXPECT_EQ(record.m_strLoginPasswd, u"old");
    EXPECT_EQ(record.m_szLoginResponse, "old body");
}

TEST_F(Login, ARequestOnManyServersRunsAtMost32AtOnce) {
    constexpr std::size_t kServers = 40;
    CLoopbackHttpPeer peer({CLoopbackHttpPeer::Reply(401, ""), EAnswer::ReplyWhenReleased});
    std::vector<CLoginTarget> targets;
    for (std::size_t i = 0; i < kServers; ++i) {
        targets.push_back({u"m" + Utf8ToUtf16(std::to_string(i)), u"127.0.0.1"});
    }
    Client(peer.Port());
    m_pClient->Login(targets, u"admin", u"pw", m_outcomes.Sink());
    ASSERT_TRUE(peer.WaitForRequests(CLoginPool::kMaxInFlight, 20s));
    // The others queue until one of these ends.
    EXPECT_FALSE(peer.WaitForRequests(CLoginPool::kMaxInFlight + 1, 1s));
    EXPECT_EQ(peer.Connections(), CLoginPool::kMaxInFlight);
    EXPECT_EQ(m_pClient->RunningLogins(), kServers);
    peer.Release();
    ASSERT_TRUE(m_outcomes.WaitFor(kServers));
    EXPECT_EQ(peer.Requests().size(), kServers);
    for (const CLoginOutcome& outcome : m_outcomes.All()) {
        EXPECT_EQ(outcome.eResult, ELoginResult::Refused);
    }
}

TEST_F(Login, OnlyTheRecordOfThatExactAddressChangesAndASweptServerGetsNothing) {
    CLoopbackHttpPeer peer({CLoopbackHttpPeer::Reply(200, "")});
    CLoopbackHttpPeer four({CLoopbackHttpPeer::Reply(200, "")}, "127.0.0.4", peer.Port());
    CLoopbackHttpPeer moved({CLoopbackHttpPeer::Reply(200, "")}, "127.0.0.5", peer.Port());
    AddServer(u"m1", u"127.0.0.1");
    AddServer(u"m10", u"127.0.0.10"); // begins with the other's address
    CServerData& elsewhere = AddServer(u"m5", u"127.0.0.55");
    Client(peer.Port());
    // m4's record was swept while its login ran; m5 now lives at another address.
    LoginTo({{u"m1", u"127.0.0.1"}, {u"m4", u"127.0.0.4"}, {u"m5", u"127.0.0.5"}});
    EXPECT_EQ(m_outcomes.At(u"127.0.0.1").eResult, ELoginResult::Succeeded);
    for (const char16_t* ip : {u"127.0.0.4", u"127.0.0.5"}) {
        const CLoginOutcome outcome = m_outcomes.At(ip);
        EXPECT_EQ(outcome.eResult, ELoginResult::Superseded) << Utf16ToUtf8(ip);
        EXPECT_FALSE(outcome.bAuthorized);
        EXPECT_EQ(outcome.strMessage, u"");
    }
    EXPECT_EQ(m_table.Find(u"m10")->m_bAuthorized, 0);
    EXPECT_EQ(elsewhere.m_bAuthorized, 0);
    EXPECT_EQ(m_table.Find(u"m4"), nullptr);
    EXPECT_EQ(m_table.Size(), 3u);
}

TEST_F(Login, ALoginAuthorizesAtItsAddressAndNotAServerThatMovedMeanwhile) {
    CLoopbackHttpPeer stays({CLoopbackHttpPeer::Reply(200, ""), EAnswer::ReplyWhenReleased});
    CLoopbackHttpPeer moves({CLoopbackHttpPeer::Reply(200, ""), EAnswer::ReplyWhenReleased},
                            "127.0.0.2", stays.Port());
    ASSERT_NE(moves.Port(), 0);
    CServerData& kept = AddServer(u"m1", u"127.0.0.1");
    CServerData& moved = AddServer(u"m2", u"127.0.0.2");
    Client(stays.Port());
    m_pClient->Login({{u"m1", u"127.0.0.1"}, {u"m2", u"127.0.0.2"}}, u"admin", u"pw",
                     m_outcomes.Sink());
    ASSERT_TRUE(stays.WaitForRequests(1, 20s));
    ASSERT_TRUE(moves.WaitForRequests(1, 20s));
    // Discovery sees the second server at another address while its login is out.
    {
        auto lock = m_pGuard->LockExclusive();
        moved.SetIPAddr("127.0.0.66");
    }
    stays.Release();
    moves.Release();
    ASSERT_TRUE(m_outcomes.WaitFor(2));
    EXPECT_EQ(kept.m_bAuthorized, 1);
    EXPECT_STREQ(kept.m_szAuthorizedIP, "127.0.0.1");
    EXPECT_EQ(moved.m_bAuthorized, 0);
    EXPECT_EQ(moved.m_strLoginPasswd, u"");
    EXPECT_STREQ(moved.m_szAuthorizedIP, "");
    EXPECT_EQ(m_outcomes.At(u"127.0.0.1").eResult, ELoginResult::Succeeded);
    EXPECT_EQ(m_outcomes.At(u"127.0.0.2").eResult, ELoginResult::Superseded);
}

TEST_F(Login, ShutdownWhileLoginsWaitStartsNoQueuedLoginAndTouchesNoRecord) {
    CLoopbackHttpPeer accepts({CLoopbackHttpPeer::Reply(200, "late"), EAnswer::ReplyWhenReleased});
    CLoopbackHttpPeer refuses({"", EAnswer::Silent}, "127.0.0.2", accepts.Port());
    ASSERT_NE(refuses.Port(), 0);
    AddServer(u"m1", u"127.0.0.1");
    AddServer(u"m2", u"127.0.0.2");
    Client(accepts.Port());
    // One request: the silent server, then enough logins to the other to fill the pool and
    // queue nine more.
    constexpr std::size_t kQueued = 9;
    std::vector<CLoginTarget> targets = {{u"m2", u"127.0.0.2"}};
    targets.resize(CLoginPool::kMaxInFlight + kQueued, {u"m1", u"127.0.0.1"});
    m_pClient->Login(targets, u"admin", u"pw", m_outcomes.Sink());
    const std::size_t started = CLoginPool::kMaxInFlight - 1;
    ASSERT_TRUE(accepts.WaitForRequests(started, 20s));
    ASSERT_TRUE(refuses.WaitForRequests(1, 20s));

    // The tables are freed and the client and the pool go; nothing waits for the workers,
    // which still wait for their servers, and the queued logins are never started.
    {
        auto lock = m_pGuard->LockExclusive();
        m_pGuard->m_bTablesAlive = false;
        m_table.Clear();
    }
    m_pClient.reset();
    m_pPool.reset();

    // Now the answers come: a 200 for a record that is gone, and a connection closed unanswered.
    accepts.Release();
    refuses.Release();
    ASSERT_TRUE(m_outcomes.WaitFor(CLoginPool::kMaxInFlight));
    EXPECT_EQ(m_table.Size(), 0u);
    EXPECT_EQ(accepts.Requests().size(), started);
    for (const CLoginOutcome& outcome : m_outcomes.All()) {
        EXPECT_FALSE(outcome.bAuthorized);
        EXPECT_NE(outcome.eResult, ELoginResult::Succeeded);
    }
}

} // namespace
