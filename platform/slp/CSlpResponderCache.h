// Remembers which agent answered for each service URL, so that an attribute query for that URL
// can ask that agent directly before falling back to multicast. The handles that SLPOpen makes
// share the process's one cache (g_slpResponderCache), across handles and threads; it is
// bounded and forgets its oldest entries.
#pragma once

#include <deque>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

class CSlpResponderCache {
public:
    void Remember(std::string_view url, const sockaddr_in& agent);
    std::optional<sockaddr_in> Find(std::string_view url) const;
    void Forget(std::string_view url);

    static constexpr std::size_t kCapacity = 4096;

private:
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, sockaddr_in> m_mapAgents;
    std::deque<std::string> m_listOrder;
};

extern CSlpResponderCache& g_slpResponderCache;
