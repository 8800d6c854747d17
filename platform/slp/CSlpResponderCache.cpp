#include "platform/slp/CSlpResponderCache.h"

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
    m_mapAgents.erase(std::string(url));
}
