// The window thread without a display: timers by identifier (replaced, killed, killed from their
// own callback), work from other threads run on the loop's thread, and Quit from another thread.
#include "platform/ui/CEventLoop.h"

#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Ends a run that would otherwise hang a broken loop; never part of what a test checks.
constexpr int kGuardTimer = 999;

TEST(CEventLoop, TimersRunByIdentifierUntilKilledOrReplaced) {
    CEventLoop loop;
    loop.SetTimer(kGuardTimer, 60s, [&] { loop.Quit(); });
    int ticksA = 0;
    int ticksB = 0;
    int replaced = 0;
    EXPECT_FALSE(loop.SetTimer(1, 0ms, [] {}));
    loop.SetTimer(1, 1ms, [&] { ++replaced; });
    loop.SetTimer(1, 1ms, [&] {
        if (++ticksA == 3) {
            loop.KillTimer(1); // from its own callback
        }
    });
    loop.SetTimer(2, 1ms, [&] { ++ticksB; });
    ASSERT_TRUE(loop.RunUntil([&] { return ticksA == 3 && ticksB >= 6; }));
    EXPECT_EQ(replaced, 0);
    EXPECT_EQ(ticksA, 3);
    loop.KillTimer(2);
    loop.KillTimer(kGuardTimer);

    // With no timer left, only work or Quit wake the loop.
    const auto loopThread = std::this_thread::get_id();
    std::thread::id ranOn;
    std::thread worker([&] {
        loop.Window()->Post([&] { ranOn = std::this_thread::get_id(); });
        loop.Window()->Send([] {});
        loop.Quit();
    });
    loop.Run();
    worker.join();
    EXPECT_EQ(ranOn, loopThread);
    EXPECT_EQ(ticksA, 3);
}

TEST(CEventLoop, WorkersReportingAfterTheLoopIsGoneAreReleased) {
    std::shared_ptr<IWindowThread> window;
    {
        CEventLoop loop;
        window = loop.Window();
    }
    bool ran = false;
    std::thread worker([&] { EXPECT_FALSE(window->Send([&] { ran = true; })); });
    worker.join();
    window->Post([&] { ran = true; });
    EXPECT_FALSE(ran);
}

} // namespace
