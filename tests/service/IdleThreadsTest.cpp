// Handing the acceptor role to an idle connection thread.
#include "service/listener/CIdleConnectionThreads.h"
#include "tests/service/ServiceTestSupport.h"

#include <gtest/gtest.h>
#include <thread>

namespace {

class IdleThreads : public svctest::CServiceTest {};

TEST_F(IdleThreads, AHandOffReachesAWaitingThreadAndNeedsOne) {
    auto pool = std::make_shared<CIdleConnectionThreads>();
    CIdleConnectionThreads& idle = *pool;
    auto context = std::make_shared<CServiceContext>(*m_pCore, CServiceOptions{}, pool);
    EXPECT_FALSE(idle.HandOff({context}));
    std::shared_ptr<CServiceContext> received;
    std::thread waiter([&] { received = idle.WaitForWork().pContext; });
    while (!idle.HandOff({context})) {
        std::this_thread::yield();
    }
    waiter.join();
    EXPECT_EQ(received, context);
    EXPECT_FALSE(idle.HandOff({context}));
}

TEST_F(IdleThreads, TheServiceKeepsAcceptingWhileThreadsComeAndGo) {
    m_docRoot.Write("default.htm", "page");
    StartService();
    for (int round = 0; round < 3; ++round) {
        std::vector<std::thread> clients;
        for (int c = 0; c < 8; ++c) {
            clients.emplace_back([&] {
                EXPECT_TRUE(svctest::Exchange(Port(), "GET / HTTP/1.0\r\n\r\n").ends_with("page"));
            });
        }
        for (auto& t : clients) {
            t.join();
        }
    }
}

} // namespace
