// Failed credential checks per client address and per user name: when an address gets blocked
// and for how long, attempts in flight, a name guessed from many addresses slowed for those
// addresses only, and the memory it all takes under a flood.
#include "service/http/CLoginThrottle.h"

#include <future>
#include <gtest/gtest.h>
#include <string>

namespace {

using namespace std::chrono_literals;
using Clock = CLoginThrottle::Clock;
using EAdmit = CLoginThrottle::EAdmit;

constexpr uint32_t kAttacker = 0x0A000001;
constexpr uint32_t kNeighbour = 0x0A000002;
const Clock::time_point kStart{};

// A checked attempt that failed; answers what it set off.
CLoginThrottle::CFailureNews Fail(CLoginThrottle& throttle, uint32_t address, Clock::time_point now,
                                  std::string_view name = "admin") {
    EXPECT_EQ(throttle.Admit(address, name, now), EAdmit::Check);
    return throttle.Finish(address, name, true, now);
}

// A checked attempt that passed; false when it was refused unchecked.
bool Pass(CLoginThrottle& throttle, uint32_t address, Clock::time_point now,
          std::string_view name = "admin") {
    if (throttle.Admit(address, name, now) != EAdmit::Check) {
        return false;
    }
    throttle.Finish(address, name, false, now);
    return true;
}

TEST(LoginThrottle, TheTenthFailureWithinAMinuteBlocksThatAddressOnly) {
    CLoginThrottle throttle;
    for (int i = 0; i < 9; ++i) {
        EXPECT_FALSE(Fail(throttle, kAttacker, kStart + i * 1s).bAddressBlocked);
    }
    EXPECT_TRUE(Fail(throttle, kAttacker, kStart + 9s).bAddressBlocked); // just became blocked
    EXPECT_EQ(throttle.Admit(kAttacker, "admin", kStart + 10s), EAdmit::AddressBlocked);
    EXPECT_TRUE(Pass(throttle, kNeighbour, kStart + 10s));
}

TEST(LoginThrottle, TheBlockLastsAMinuteFromTheLastAttempt) {
    CLoginThrottle throttle;
    for (int i = 0; i < 10; ++i) {
        Fail(throttle, kAttacker, kStart);
    }
    EXPECT_EQ(throttle.Admit(kAttacker, "admin", kStart + 59s).retryAfter, 60s);
    // 59 s after the last attempt; each refusal says a whole window from itself.
    const auto refused = throttle.Admit(kAttacker, "admin", kStart + 118s);
    EXPECT_EQ(refused, EAdmit::AddressBlocked);
    EXPECT_EQ(refused.retryAfter, 60s);
    // Unblocked, it starts counting afresh.
    EXPECT_FALSE(Fail(throttle, kAttacker, kStart + 178s).bAddressBlocked);
    EXPECT_TRUE(Pass(throttle, kAttacker, kStart + 179s));
}

TEST(LoginThrottle, FailuresOlderThanTheWindowDoNotCount) {
    CLoginThrottle throttle;
    for (int i = 0; i < 30; ++i) {
        // One failure every 7 s: never ten within 60 s.
        EXPECT_FALSE(Fail(throttle, kAttacker, kStart + i * 7s).bAddressBlocked) << i;
    }
    EXPECT_TRUE(Pass(throttle, kAttacker, kStart + 30 * 7s));
}

TEST(LoginThrottle, AttemptsInFlightCountBeforeTheyAreChecked) {
    // A thousand held connections released at once: only ten get a check.
    CLoginThrottle throttle({.inFlightWait = 0ms});
    int checked = 0;
    for (int i = 0; i < 1000; ++i) {
        checked += throttle.Admit(kAttacker, "admin" + std::to_string(i), kStart) == EAdmit::Check;
    }
    EXPECT_EQ(checked, 10);
    // Passed checks leave no count behind.
    for (int i = 0; i < 10; ++i) {
        throttle.Finish(kAttacker, "admin" + std::to_string(i), false, kStart);
    }
    EXPECT_TRUE(Pass(throttle, kAttacker, kStart));
}

TEST(LoginThrottle, AnAttemptBeyondTheChecksInFlightLearnsHowTheyEnded) {
    for (const bool bFailed : {false, true}) {
        CLoginThrottle throttle({.inFlightWait = 60s});
        for (int i = 0; i < 10; ++i) {
            ASSERT_EQ(throttle.Admit(kAttacker, "admin", kStart), EAdmit::Check);
        }
        // Waits for the ten, whichever ends first: as many failures block the address.
        auto waiting = std::async(std::launch::async,
                                  [&] { return throttle.Admit(kAttacker, "admin", kStart); });
        for (int i = 0; i < 10; ++i) {
            throttle.Finish(kAttacker, "admin", bFailed, kStart);
        }
        EXPECT_EQ(waiting.get(), bFailed ? EAdmit::AddressBlocked : EAdmit::Check) << bFailed;
    }
}

TEST(LoginThrottle, ANameGuessedFromManyAddressesIsSlowedForThoseAddressesAlone) {
    CLoginThrottle throttle;
    for (uint32_t a = 0; a < 49; ++a) {
        EXPECT_FALSE(Fail(throttle, 0x0B000000 + a, kStart).bNameSlowed);
    }
    EXPECT_TRUE(Fail(throttle, 0x0B000100, kStart).bNameSlowed); // logged once
    EXPECT_EQ(throttle.Admit(0x0B000001, "admin", kStart + 999ms), EAdmit::NameSlowed);
    // An address that has not failed the name is checked at once, however often it asks.
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(Pass(throttle, kNeighbour, kStart + 999ms)) << i;
    }
    EXPECT_TRUE(Pass(throttle, 0x0B000001, kStart, "bob")); // another name is not slowed
    // The addresses that failed it share one check a second.
    EXPECT_TRUE(Pass(throttle, 0x0B000002, kStart + 1s));
    const auto slowed = throttle.Admit(0x0B000003, "admin", kStart + 1500ms);
    EXPECT_EQ(slowed, EAdmit::NameSlowed);
    EXPECT_EQ(slowed.retryAfter, 500ms); // until the next check
    EXPECT_FALSE(Fail(throttle, 0x0B000004, kStart + 2s).bNameSlowed);
    EXPECT_EQ(throttle.Admit(0x0B000005, "admin", kStart + 2s), EAdmit::NameSlowed);
    // An address that fails the name joins them.
    Fail(throttle, kNeighbour, kStart + 2s);
    EXPECT_EQ(throttle.Admit(kNeighbour, "admin", kStart + 2500ms), EAdmit::NameSlowed);
    // A whole window after the last failure the name is checked freely again.
    EXPECT_TRUE(Pass(throttle, 0x0B000005, kStart + 62s));
    EXPECT_TRUE(Pass(throttle, 0x0B000005, kStart + 62s));
}

TEST(LoginThrottle, AFloodOfAddressesAndNamesTakesBoundedMemoryAndFreesABlockedGuesser) {
    constexpr std::size_t kMaxEntries = 100;
    CLoginThrottle throttle({.nMaxEntries = kMaxEntries});
    for (int i = 0; i < 10; ++i) {
        Fail(throttle, kAttacker, kStart);
    }
    for (uint32_t a = 0; a < 5000; ++a) {
        const auto now = kStart + std::chrono::milliseconds(a);
        Fail(throttle, 0x0B000000 + a, now, "user" + std::to_string(a));
        EXPECT_LE(throttle.TrackedAddresses(), kMaxEntries);
        EXPECT_LE(throttle.TrackedNames(), kMaxEntries);
        if (a % 10 == 0) {
            // The guesser keeps trying throughout, and stays blocked.
            EXPECT_EQ(throttle.Admit(kAttacker, "admin", now), EAdmit::AddressBlocked) << a;
        }
    }
    // A minute after the last activity nothing is kept.
    EXPECT_TRUE(Pass(throttle, kNeighbour, kStart + 5s + 60s));
    EXPECT_EQ(throttle.TrackedAddresses(), 1u);
}

} // namespace
