// The server table and its index by MAC key; see CServerTable.h.
#include "storage/CServerTable.h"

#include "platform/text/MacText.h"
#include "platform/text/TextConv.h"

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

void CServerTable::FindAlike(const std::u16string& mac,
                             std::vector<const CServerData*>& found) const {
    const auto [first, last] = m_byKey.equal_range(MacKey(Utf16ToUtf8(mac)));
    for (auto it = first; it != last; ++it) {
        found.push_back(it->second);
    }
}

void CServerTable::Add(const std::u16string& mac, std::unique_ptr<CServerData> record) {
    std::unique_ptr<CServerData>& slot = m_map[mac];
    if (slot) {
        Unindex(mac, slot.get());
    }
    m_byKey.emplace(MacKey(Utf16ToUtf8(mac)), record.get());
    slot = std::move(record);
    m_nMembership = NextMembership();
}

void CServerTable::Remove(const std::u16string& mac) {
    const auto it = m_map.find(mac);
    if (it != m_map.end()) {
        Unindex(mac, it->second.get());
        m_map.erase(it);
        m_nMembership = NextMembership();
    }
}

void CServerTable::Unindex(const std::u16string& mac, const CServerData* record) {
    const auto [first, last] = m_byKey.equal_range(MacKey(Utf16ToUtf8(mac)));
    for (auto it = first; it != last; ++it) {
        if (it->second == record) {
            m_byKey.erase(it);
            return;
        }
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
    m_byKey.clear();
    m_map.clear();
    m_nMembership = NextMembership();
}
