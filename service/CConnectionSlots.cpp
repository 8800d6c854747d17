#include "service/CConnectionSlots.h"

CConnectionSlots::CConnectionSlots(std::size_t nMax) : m_nMax(nMax > 0 ? nMax : 1) {}

CConnectionSlots::ERoom CConnectionSlots::CheckRoom() {
    std::lock_guard lock(m_mutex);
    if (m_bStopped) {
        return ERoom::Stopped;
    }
    return m_nTaken < m_nMax ? ERoom::Free : ERoom::Full;
}

bool CConnectionSlots::WaitForRoom() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_bStopped || m_nTaken < m_nMax; });
    return !m_bStopped;
}

void CConnectionSlots::Take() {
    std::lock_guard lock(m_mutex);
    ++m_nTaken;
}

void CConnectionSlots::Give() {
    {
        std::lock_guard lock(m_mutex);
        --m_nTaken;
    }
    // The plain and the TLS acceptor may both be waiting: each must see the room.
    m_changed.notify_all();
}

void CConnectionSlots::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_bStopped = true;
    }
    m_changed.notify_all();
}

std::size_t CConnectionSlots::Taken() {
    std::lock_guard lock(m_mutex);
    return m_nTaken;
}
