#include "service/listener/CAddressConnections.h"

CAddressConnections::CAddressConnections(std::size_t nMaxPerAddress)
    : m_nMaxPerAddress(nMaxPerAddress > 0 ? nMaxPerAddress : 1) {}

CAddressConnections::ETake CAddressConnections::Take(uint32_t address) {
    std::lock_guard lock(m_mutex);
    CEntry& entry = m_entries[address];
    if (entry.nHeld < m_nMaxPerAddress) {
        ++entry.nHeld;
        entry.bRefusing = false;
        return ETake::Taken;
    }
    if (entry.bRefusing) {
        return ETake::Refused;
    }
    entry.bRefusing = true;
    return ETake::FirstRefused;
}

void CAddressConnections::Give(uint32_t address) {
    std::lock_guard lock(m_mutex);
    const auto it = m_entries.find(address);
    if (it == m_entries.end()) {
        return;
    }
    if (--it->second.nHeld == 0) {
        m_entries.erase(it);
    }
}
