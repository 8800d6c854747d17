// The shared login pool with jobs that wait at a gate: its cap across requests, the round-robin
// order between requests, and what a dropped ticket or a destroyed pool leaves running.
#include "storage/CLoginPool.h"

#include "tests/support/WaitUntil.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <string>

namespace {

// Jobs that note their start by a letter and wait until the test lets one of them end.
class CGate {
public:
    std::vector<CLoginPool::CJob> Jobs(char label, std::size_t count) {
        return std::vector<CLoginPool::CJob>(count,
                                             [this, label](CLoginPool::ERun) { Enter(label); });
    }
    // Lets n waiting (or later) jobs end.
    void Release(std::size_t n) {
        std::lock_guard lock(m_mutex);
        m_nPermits += n;
        m_changed.notify_all();
    }
    bool WaitForStarts(std::size_t n) {
        return WaitFor([&] { return m_strStarts.size() >= n; });
    }
    bool WaitForEnds(std::size_t n) {
        return WaitFor([&] { return m_nEnded >= n; });
    }
    std::string Starts() {
        std::lock_guard lock(m_mutex);
        return m_strStarts;
    }
    std::size_t MostInFlight() {
        std::lock_guard lock(m_mutex);
        return m_nMost;
    }

private:
    void Enter(char label) {
        std::unique_lock lock(m_mutex);
        m_strStarts += label;
        m_nMost = std::max(m_nMost, ++m_nInFlight);
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_nPermits > 0; });
        --m_nPermits;
        --m_nInFlight;
        ++m_nEnded;
        m_changed.notify_all();
    }
    template <typename Pred>
    bool WaitFor(Pred pred) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kEventDeadline, pred);
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_strStarts;
    std::size_t m_nInFlight = 0;
    std::size_t m_nMost = 0;
    std::size_t m_nEnded = 0;
    std::size_t m_nPermits = 0;
};

TEST(LoginPool, RequestsShareTheCapAndAreServedInTurn) {
    constexpr std::size_t kCap = CLoginPool::kMaxInFlight;
    constexpr std::size_t kFleet = kCap + 8;
    CGate gate;
    CLoginPool pool;
    // A fleet-wide login fills the pool; two small requests queue behind its last eight.
    const CLoginPool::CTicket fleet = pool.Submit(gate.Jobs('A', kFleet));
    ASSERT_TRUE(gate.WaitForStarts(kCap));
    const CLoginPool::CTicket three = pool.Submit(gate.Jobs('B', 3));
    const CLoginPool::CTicket one = pool.Submit(gate.Jobs('C', 1));
    // One place frees at a time, so each release starts exactly one queued job: the requests
    // take turns, and the small ones are done long before the fleet's queue.
    const std::string expected = "ABCABABAAAAA";
    for (std::size_t i = 1; i <= expected.size(); ++i) {
        gate.Release(1);
        ASSERT_TRUE(gate.WaitForStarts(kCap + i));
    }
    EXPECT_EQ(gate.Starts(), std::string(kCap, 'A') + expected);
    gate.Release(kCap);
    ASSERT_TRUE(gate.WaitForEnds(kFleet + 4));
    EXPECT_EQ(gate.MostInFlight(), kCap);
    EXPECT_FALSE(fleet.HasQueued());
}

TEST(LoginPool, ADroppedRequestOrAGonePoolStartsNothingMoreAndRunningJobsEnd) {
    CGate gate;
    auto pool = std::make_unique<CLoginPool>(2);
    CLoginPool::CTicket dropped = pool->Submit(gate.Jobs('A', 4));
    ASSERT_TRUE(gate.WaitForStarts(2));
    const CLoginPool::CTicket kept = pool->Submit(gate.Jobs('B', 2));
    dropped.Drop(); // its caller went away: its two queued jobs go, the two running go on
    EXPECT_FALSE(dropped.HasQueued());
    gate.Release(1);
    ASSERT_TRUE(gate.WaitForStarts(3));
    EXPECT_TRUE(kept.HasQueued());
    // The pool goes while three jobs run: nothing waits for them, and B's last never starts.
    pool.reset();
    EXPECT_FALSE(kept.HasQueued());
    gate.Release(2);
    ASSERT_TRUE(gate.WaitForEnds(3));
    EXPECT_EQ(gate.Starts(), "AAB");
}

} // namespace
