// The cache of directory sign-ins answers only the same name with the same password, only within
// its lifetime, and stays bounded under a flood of distinct sign-ins.
#include "core/ldap/CLdapSignInCache.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = CLdapSignInCache::Clock;

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(LdapSignInCache, AnswersTheSameNameAndPasswordWithinItsLifetimeOnly) {
    CLdapSignInCache cache(60s);
    const Clock::time_point t0{};
    cache.Store("alice", Bytes("pw"), {"uid=alice", {"cn=ops"}}, t0);
    const auto held = cache.Find("alice", Bytes("pw"), t0 + 59s);
    ASSERT_TRUE(held);
    EXPECT_EQ(held->dn, "uid=alice");
    EXPECT_EQ(held->groups, std::vector<std::string>{"cn=ops"});
    struct Miss {
        std::string_view name, password;
        Clock::duration after;
    };
    // A changed password, another name, the same bytes split otherwise, and a late ask.
    for (const Miss& miss : {Miss{"alice", "pw2", 1s}, Miss{"Alice", "pw", 1s},
                             Miss{"alicep", "w", 1s}, Miss{"alice", "pw", 60s}}) {
        EXPECT_FALSE(cache.Find(miss.name, Bytes(miss.password), t0 + miss.after))
            << miss.name << ":" << miss.password;
    }
}

TEST(LdapSignInCache, KeepsNothingWithoutALifetimeAndStaysBounded) {
    CLdapSignInCache none(0s);
    none.Store("alice", Bytes("pw"), {"uid=alice", {}}, {});
    EXPECT_EQ(none.Size(), 0U);
    EXPECT_FALSE(none.Find("alice", Bytes("pw"), {}));

    constexpr std::size_t kMax = 8;
    CLdapSignInCache cache(60s, kMax);
    for (std::size_t i = 0; i < 3 * kMax; ++i) {
        cache.Store("user" + std::to_string(i), Bytes("pw"), {"uid=x", {}}, Clock::time_point{});
        EXPECT_LE(cache.Size(), kMax);
    }
    // Expired entries make room before anything live goes.
    CLdapSignInCache aging(10s, 2);
    aging.Store("old", Bytes("pw"), {"uid=old", {}}, Clock::time_point{});
    aging.Store("live", Bytes("pw"), {"uid=live", {}}, Clock::time_point{} + 5s);
    aging.Store("new", Bytes("pw"), {"uid=new", {}}, Clock::time_point{} + 12s);
    EXPECT_TRUE(aging.Find("live", Bytes("pw"), Clock::time_point{} + 12s));
    EXPECT_TRUE(aging.Find("new", Bytes("pw"), Clock::time_point{} + 12s));
}

} // namespace
