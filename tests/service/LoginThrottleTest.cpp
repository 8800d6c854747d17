// Failed credential checks per client address: when an address gets blocked, how long the block
// lasts, and the memory it takes under a flood from many addresses.
#include "service/CLoginThrottle.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = CLoginThrottle::Clock;

constexpr uint32_t kAttacker = 0x0A000001;
constexpr uint32_t kNeighbour = 0x0A000002;
const Clock::time_point kStart{};

TEST(LoginThrottle, TheTenthFailureWithinAMinuteBlocksThatAddressOnly) {
    CLoginThrottle throttle;
    for (int i = 0; i < 9; ++i) {
        EXPECT_FALSE(throttle.IsBlocked(kAttacker, kStart + i * 1s));
        EXPECT_FALSE(throttle.RecordFailure(kAttacker, kStart + i * 1s));
    }
    EXPECT_TRUE(throttle.RecordFailure(kAttacker, kStart + 9s)); // just became blocked
    EXPECT_TRUE(throttle.IsBlocked(kAttacker, kStart + 10s));
    EXPECT_FALSE(throttle.IsBlocked(kNeighbour, kStart + 10s));
}

TEST(LoginThrottle, TheBlockLastsAMinuteFromTheLastAttempt) {
    CLoginThrottle throttle;
    for (int i = 0; i < 10; ++i) {
        throttle.RecordFailure(kAttacker, kStart);
    }
    EXPECT_TRUE(throttle.IsBlocked(kAttacker, kStart + 59s));
    EXPECT_TRUE(throttle.IsBlocked(kAttacker, kStart + 118s)); // 59 s after the last attempt
    EXPECT_FALSE(throttle.IsBlocked(kAttacker, kStart + 178s));
    // Unblocked, it starts counting afresh.
    EXPECT_FALSE(throttle.RecordFailure(kAttacker, kStart + 179s));
    EXPECT_FALSE(throttle.IsBlocked(kAttacker, kStart + 180s));
}

TEST(LoginThrottle, FailuresOlderThanTheWindowDoNotCount) {
    CLoginThrottle throttle;
    for (int i = 0; i < 30; ++i) {
        // One failure every 7 s: never ten within 60 s.
        EXPECT_FALSE(throttle.RecordFailure(kAttacker, kStart + i * 7s)) << i;
    }
    EXPECT_FALSE(throttle.IsBlocked(kAttacker, kStart + 30 * 7s));
}

TEST(LoginThrottle, AFloodOfAddressesTakesBoundedMemoryAndFreesABlockedGuesser) {
    constexpr std::size_t kMaxAddresses = 100;
    CLoginThrottle throttle(10, 60s, kMaxAddresses);
    for (int i = 0; i < 10; ++i) {
        throttle.RecordFailure(kAttacker, kStart);
    }
    for (uint32_t a = 0; a < 5000; ++a) {
        const auto now = kStart + std::chrono::milliseconds(a);
        throttle.RecordFailure(0x0B000000 + a, now);
        EXPECT_LE(throttle.TrackedAddresses(), kMaxAddresses);
        if (a % 10 == 0) {
            // The guesser keeps trying throughout, and stays blocked.
            EXPECT_TRUE(throttle.IsBlocked(kAttacker, now)) << a;
        }
    }
    // A minute after the last activity nothing is kept.
    EXPECT_FALSE(throttle.IsBlocked(kNeighbour, kStart + 5s + 60s));
    EXPECT_EQ(throttle.TrackedAddresses(), 0u);
}

} // namespace
