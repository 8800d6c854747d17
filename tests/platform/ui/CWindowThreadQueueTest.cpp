// Handing work to the window thread: sent work runs there while the sender waits, and closing the
// queue at shutdown releases every waiting worker instead of leaving it blocked.
#include "platform/ui/CWindowThreadQueue.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

// A window thread of its own: the test's thread plays it and drains when woken.
class WindowThreadQueue : public ::testing::Test {
protected:
    void DrainUntil(const std::function<bool()>& done) {
        while (!done()) {
            if (m_wakes.exchange(0) > 0) {
                m_queue.Drain();
            }
            std::this_thread::yield();
        }
    }
    std::atomic<int> m_wakes{0};
    CWindowThreadQueue m_queue{[this] { ++m_wakes; }};
};

TEST_F(WindowThreadQueue, SentWorkRunsOnTheWindowThreadBeforeTheSenderGoesOn) {
    const auto windowThread = std::this_thread::get_id();
    std::thread::id ranOn;
    std::atomic<bool> sent{false};
    bool answer = false;
    std::thread worker([&] {
        answer = m_queue.Send([&] { ranOn = std::this_thread::get_id(); });
        sent = true;
    });
    DrainUntil([&] { return sent.load(); });
    worker.join();
    EXPECT_TRUE(answer);
    EXPECT_EQ(ranOn, windowThread);

    // On the window thread itself a send runs at once, without a wake.
    bool ran = false;
    EXPECT_TRUE(m_queue.Send([&] { ran = true; }));
    EXPECT_TRUE(ran);
}

TEST_F(WindowThreadQueue, ClosingReleasesWaitingSendersAndDropsEverythingAfter) {
    std::atomic<bool> released{false};
    bool answer = true;
    bool ran = false;
    std::thread worker([&] {
        answer = m_queue.Send([&] { ran = true; });
        released = true;
    });
    while (m_wakes.load() == 0) {
        std::this_thread::yield();
    }
    m_queue.Close(); // the window goes away before it drained
    worker.join();
    EXPECT_TRUE(released);
    EXPECT_FALSE(answer);
    EXPECT_FALSE(ran);

    m_queue.Post([&] { ran = true; });
    EXPECT_FALSE(m_queue.Send([&] { ran = true; }));
    m_queue.Drain();
    EXPECT_FALSE(ran);
}

TEST_F(WindowThreadQueue, WorkThatClosesTheQueueDropsTheRestOfItsBatch) {
    int order = 0;
    int first = 0;
    int second = 0;
    m_queue.Post([&] { first = ++order; });
    m_queue.Post([&] { m_queue.Close(); });
    m_queue.Post([&] { second = ++order; });
    m_queue.Drain();
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
}

} // namespace
