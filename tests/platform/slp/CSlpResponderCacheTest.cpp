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
