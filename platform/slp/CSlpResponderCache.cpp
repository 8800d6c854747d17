// The responder cache: a map from URL to agent, with the order of arrival for eviction.
#include "platform/slp/CSlpResponderCache.h"

#include <algorithm>

void CSlpResponderCache::Remember(std::string_view url, const sockaddr_in& agent) {
    std::lock_guard lock(m_mutex);
    auto [entry, inserted] = m_mapAgents.insert_or_assign(std::string(url), agent);
    if (!inserted) {
        return;
    }
    m_listOrder.push_back(entry->first);
    while (m_listOrder.size() > kCapacity) {
        m_mapAgents.erase(m_listOrder.front());
        m_listOrder.pop_front();
    }
}

std::optional<sockaddr_in> CSlpResponderCache::Find(std::string_view url) const {
    std::lock_guard lock(m_mutex);
    auto entry = m_mapAgents.find(std::string(url));
    if (entry == m_mapAgents.end()) {
        return std::nullopt;
    }
    return entry->second;
}

void CSlpResponderCache::Forget(std::string_view url) {
    std::lock_guard lock(m_mutex);
    if (m_mapAgents.erase(std::string(url)) == 0) {
        return;
    }
    // Its place in the order goes too, or that stale place would later evict a live entry.
    auto place = std::find(m_listOrder.begin(), m_listOrder.end(), url);
    if (place != m_listOrder.end()) {
        m_listOrder.erase(place);
    }
}
