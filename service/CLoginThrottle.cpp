#include "service/CLoginThrottle.h"

CLoginThrottle::CLoginThrottle(int nMaxFailures, Clock::duration window, std::size_t nMaxAddresses)
    : m_nMaxFailures(static_cast<std::size_t>(nMaxFailures > 0 ? nMaxFailures : 1)),
      m_window(window), m_nMaxAddresses(nMaxAddresses > 0 ? nMaxAddresses : 1) {}

void CLoginThrottle::Prune(Clock::time_point now) {
    // The order list runs from the most to the least recently active entry, so the quiet ones
    // are all at its end.
    while (!m_order.empty() && now - m_entries.at(m_order.back()).lastActivity >= m_window) {
        m_entries.erase(m_order.back());
        m_order.pop_back();
    }
}

CLoginThrottle::CEntry& CLoginThrottle::Touch(uint32_t address, Clock::time_point now) {
    auto it = m_entries.find(address);
    if (it == m_entries.end()) {
        if (m_entries.size() >= m_nMaxAddresses) {
            m_entries.erase(m_order.back());
            m_order.pop_back();
        }
        m_order.push_front(address);
        it = m_entries.emplace(address, CEntry{}).first;
        it->second.order = m_order.begin();
    } else {
        m_order.splice(m_order.begin(), m_order, it->second.order);
    }
    it->second.lastActivity = now;
    return it->second;
}

bool CLoginThrottle::IsBlocked(uint32_t address, Clock::time_point now) {
    std::lock_guard lock(m_mutex);
    Prune(now);
    const auto it = m_entries.find(address);
    if (it == m_entries.end() || !it->second.bBlocked) {
        return false;
    }
    Touch(address, now);
    return true;
}

bool CLoginThrottle::RecordFailure(uint32_t address, Clock::time_point now) {
    std::lock_guard lock(m_mutex);
    Prune(now);
    CEntry& entry = Touch(address, now);
    while (!entry.failures.empty() && now - entry.failures.front() >= m_window) {
        entry.failures.pop_front();
    }
    entry.failures.push_back(now);
    if (entry.failures.size() > m_nMaxFailures) {
        entry.failures.pop_front();
    }
    if (entry.bBlocked || entry.failures.size() < m_nMaxFailures) {
        return false;
    }
    entry.bBlocked = true;
    return true;
}

std::size_t CLoginThrottle::TrackedAddresses() const {
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}
