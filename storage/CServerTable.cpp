#include "storage/CServerTable.h"

#include <atomic>

uint64_t CServerTable::NextMembership() {
    // Process-wide, so that a value names one table's state and no other table's.
    static std::atomic<uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

const CServerData* CServerTable::Find(const std::u16string& mac) const {
    auto it = m_map.find(mac);
    return it == m_map.end() ? nullptr : it->second.get();
}

CServerData* CServerTable::Find(const std::u16string& mac) {
    auto it = m_map.find(mac);
    return it == m_map.end() ? nullptr : it->second.get();
}

void CServerTable::Add(const std::u16string& mac, std::unique_ptr<CServerData> record) {
    m_map[mac] = std::move(record);
    m_nMembership = NextMembership();
}

void CServerTable::Remove(const std::u16string& mac) {
    if (m_map.erase(mac) != 0) {
        m_nMembership = NextMembership();
    }
}

void CServerTable::ForEach(
    const std::function<void(const std::u16string&, const CServerData&)>& visit) const {
    for (const auto& [key, record] : m_map) {
        visit(key, *record);
    }
}

void CServerTable::ForEach(const std::function<void(const std::u16string&, CServerData&)>& visit) {
    for (const auto& [key, record] : m_map) {
        visit(key, *record);
    }
}

void CServerTable::BeginPass() {
    for (auto& [key, record] : m_map) {
        record->m_bSeen = 0;
    }
}

void CServerTable::Clear() {
    m_map.clear();
    m_nMembership = NextMembership();
}
