#include "storage/CServerTable.h"

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
}

void CServerTable::Remove(const std::u16string& mac) {
    m_map.erase(mac);
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
}
