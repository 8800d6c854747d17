// The responder cache is shared by the handles and threads of a process.
#include "platform/slp/CSlpResponderCache.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

TEST(SlpResponderCache, SharedAcrossThreadsAndBounded) {
    CSlpResponderCache cache;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&cache, t] {
            sockaddr_in agent{};
            agent.sin_family = AF_INET;
            for (int i = 0; i < 2000; ++i) {
                std::string url = "service:x://" + std::to_string(t) + "." + std::to_string(i);
                cache.Remember(url, agent);
                cache.Find(url);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::size_t kept = 0;
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 2000; ++i) {
            kept +=
                cache.Find("service:x://" + std::to_string(t) + "." + std::to_string(i)) ? 1 : 0;
        }
    }
    EXPECT_EQ(kept, CSlpResponderCache::kCapacity); // the oldest of 8000 were forgotten
}

// A forgotten URL leaves no trace in the eviction order: otherwise its stale place there
// evicts a live entry early, or a URL remembered again is evicted by its own ghost.
TEST(SlpResponderCache, ForgetFreesTheSlotAndEvictsNothingElse) {
    CSlpResponderCache cache;
    sockaddr_in agent{};
    auto url = [](std::size_t i) { return "service:x://10.0.0.1/" + std::to_string(i); };
    cache.Remember("service:x://again", agent);
    cache.Forget("service:x://again");
    EXPECT_FALSE(cache.Find("service:x://again"));
    cache.Remember("service:x://again", agent);
    for (std::size_t i = 1; i < CSlpResponderCache::kCapacity; ++i) {
        cache.Remember(url(i), agent);
    }
    EXPECT_TRUE(cache.Find("service:x://again")) << "evicted with room to spare";

    cache.Forget(url(CSlpResponderCache::kCapacity / 2));
    cache.Remember("service:x://new", agent);
    EXPECT_TRUE(cache.Find("service:x://again")) << "the oldest went though a slot was free";
    EXPECT_TRUE(cache.Find("service:x://new"));
}
