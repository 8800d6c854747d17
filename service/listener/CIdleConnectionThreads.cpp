#include "service/listener/CIdleConnectionThreads.h"

#include "service/CServiceContext.h"

bool CIdleConnectionThreads::HandOff(CAcceptorRole role) {
    std::lock_guard lock(m_mutex);
    if (m_nIdle == 0) {
        return false;
    }
    --m_nIdle;
    m_pending.push_back(std::move(role));
    m_ready.release();
    return true;
}

CAcceptorRole CIdleConnectionThreads::WaitForWork() {
    {
        std::lock_guard lock(m_mutex);
        if (m_nIdle >= kMaxIdle) {
            return {};
        }
        ++m_nIdle;
    }
    const bool bHanded = m_ready.try_acquire_for(kIdleTime);
    std::lock_guard lock(m_mutex);
    // A hand-off that came as the wait ran out is still taken, so that none is lost.
    if (!bHanded && !m_ready.try_acquire()) {
        --m_nIdle;
        return {};
    }
    CAcceptorRole role = std::move(m_pending.front());
    m_pending.pop_front();
    return role;
}
