// The acceptor chain under pressure: a connection thread that cannot be started, and the cap
// on connections served at once: who is closed for a new connection, who waits, and how the
// cap follows the descriptors.
#include "service/CCredentialService.h"
#include "tests/service/ServiceTestSupport.h"
#include "tests/support/WaitUntil.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace {

using svctest::CClient;
using svctest::Exchange;

class AcceptorChain : public svctest::CServiceTest {
protected:
    void SetUp() override {
        CServiceTest::SetUp();
        m_docRoot.Write("default.htm", "page");
        for (const char* name : {"held", "first", "second", "third", "fourth"}) {
            m_docRoot.Write(name, "page");
        }
    }
    // Long waits: held connections must outlast the test's steps.
    static CServiceOptions HoldingOptions() {
        CServiceOptions options = ShortOptions();
        options.nWaitMs = 10000;
        options.nRequestDeadlineMs = 20000;
        return options;
    }
    std::size_t Count(std::string_view needle) const {
        const std::string text = m_pLog->Text();
        std::size_t n = 0;
        for (std::size_t at = text.find(needle); at != std::string::npos;
             at = text.find(needle, at + 1)) {
            ++n;
        }
        return n;
    }
    // Connects and sends a request line without ending the request; answers once the service
    // has read (and logged) it.
    std::unique_ptr<CClient> Hold(std::string_view name) {
        auto client = std::make_unique<CClient>(Port());
        client->Send("GET /" + std::string(name) + " HTTP/1.0\r\n");
        EXPECT_TRUE(m_pLog->WaitFor("GET /" + std::string(name) + " HTTP/1.0\r\n", kEventDeadline));
        return client;
    }
    static std::string Finish(const CClient& client) {
        client.Send("\r\n");
        return client.ReadAll();
    }
};

constexpr std::string_view kCannotStart =
    "OrvaneSrv: credential service cannot start a connection thread (Resource temporarily "
    "unavailable); the acceptor serves its connection itself\n";

TEST_F(AcceptorChain, AThreadThatCannotStartLeavesTheChainAccepting) {
    auto bFail = std::make_shared<std::atomic<bool>>(false);
    CServiceOptions options = HoldingOptions();
    options.startThread = [bFail](std::function<void()> job) {
        if (*bFail) {
            return EAGAIN;
        }
        std::thread(std::move(job)).detach();
        return 0;
    };
    StartService(options);
    *bFail = true;
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(Exchange(Port(), "GET / HTTP/1.0\r\n\r\n").ends_with("page")) << i;
    }
    EXPECT_EQ(Count(kCannotStart), 1u);
    // Threads start again: the one serving a held connection hands on the chain ...
    *bFail = false;
    const auto held = Hold("held");
    // ... and the next failure is a new burst with a line of its own.
    *bFail = true;
    EXPECT_TRUE(Exchange(Port(), "GET / HTTP/1.0\r\n\r\n").ends_with("page"));
    EXPECT_TRUE(Finish(*held).ends_with("page"));
    EXPECT_EQ(Count(kCannotStart), 2u);
    EXPECT_TRUE(Exchange(Port(), "GET / HTTP/1.0\r\n\r\n").ends_with("page"));
    EXPECT_EQ(g_bServerRunning.load(), 1);
}

TEST_F(AcceptorChain, NoFirstThreadMeansNoServiceAndSaysSo) {
    CServiceOptions options = ShortOptions();
    options.startThread = [](std::function<void()>) { return EAGAIN; };
    StartService(options);
    EXPECT_EQ(g_bServerRunning.load(), 0);
    EXPECT_FALSE(g_listenSocket.HasSocket());
    EXPECT_EQ(Count("OrvaneSrv: credential service cannot start a connection thread (Resource "
                    "temporarily unavailable); it does not run\n"),
              1u);
}

constexpr std::string_view kAtCap = "OrvaneSrv: credential service is at its cap of 2 connections "
                                    "served at once, at most 2 on one port; further clients wait\n";

TEST_F(AcceptorChain, AtTheCapANewConnectionClosesTheOneWaitingLongestForItsRequest) {
    CServiceOptions options = HoldingOptions();
    options.nMaxConnections = 2;
    StartService(options);
    auto first = Hold("first");
    const auto second = Hold("second");
    EXPECT_TRUE(Exchange(Port(), "GET / HTTP/1.0\r\n\r\n").ends_with("page"));
    EXPECT_EQ(first->ReadAll(), "");
    // The next one finds the slot of the one just served, once it is given back (just after
    // the answer).
    ASSERT_TRUE(WaitUntil([&] { return m_pService->ConnectionsServed() == 1; }));
    EXPECT_TRUE(Exchange(Port(), "GET / HTTP/1.0\r\n\r\n").ends_with("page"));
    EXPECT_TRUE(Finish(*second).ends_with("page"));
    EXPECT_EQ(Count("connections served at once, at most 2 on one port; the connection that has "
                    "waited longest for its request is closed for each new one\n"),
              1u);
}

TEST_F(AcceptorChain, ConnectionsPastTheirHeadersKeepTheirSlotsAndNewOnesWait) {
    CServiceOptions options = HoldingOptions();
    options.nMaxConnections = 2;
    StartService(options);
    for (int burst = 1; burst <= 2; ++burst) {
        auto first = HoldPastHeaders();
        auto second = HoldPastHeaders();
        CClient waiting(Port());
        waiting.Send("GET / HTTP/1.0\r\n\r\n");
        EXPECT_EQ(waiting.ReadAll(std::chrono::milliseconds(300)), "") << burst;
        first->Send("new\n");
        EXPECT_NE(first->ReadAll(), "") << burst;
        EXPECT_TRUE(waiting.ReadAll().ends_with("page")) << burst;
        second->Send("new\n");
        EXPECT_NE(second->ReadAll(), "") << burst;
        // Once a burst, when it begins.
        EXPECT_EQ(Count(kAtCap), static_cast<std::size_t>(burst));
        first.reset();
        second.reset();
        EXPECT_TRUE(WaitUntil([&] { return m_pService->ConnectionsServed() == 0; }));
    }
}

TEST_F(AcceptorChain, StopEndsAnAcceptorWaitingAtTheCap) {
    CServiceOptions options = HoldingOptions();
    options.nMaxConnections = 1;
    StartService(options);
    const auto held = HoldPastHeaders();
    const CClient waiting(Port());
    EXPECT_TRUE(m_pLog->WaitFor("at its cap of 1 connections", kEventDeadline));
    StopService();
    EXPECT_EQ(g_bServerRunning.load(), 0);
    EXPECT_TRUE(waiting.WaitClosed(kEventDeadline));
}

TEST(ConnectionCap, IsAQuarterOfTheDescriptorsWithinBounds) {
    const struct {
        uint64_t nOpenFiles;
        std::size_t nCap;
    } cases[] = {{0, 1}, {3, 1}, {1024, 256}, {4096, 1024}, {20000, 5000}, {1 << 20, 16384}};
    for (const auto& c : cases) {
        EXPECT_EQ(CServiceOptions::MaxConnectionsFor(c.nOpenFiles), c.nCap) << c.nOpenFiles;
    }
}

} // namespace
