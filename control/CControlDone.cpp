// A control request's answer and its peer's hang-up; see CControlDone.h.
#include "control/CControlDone.h"

void CControlDone::CHangUp::Fire() {
    std::function<void()> onGone;
    {
        const std::lock_guard lock(m_mutex);
        if (m_bGone) {
            return;
        }
        m_bGone = true;
        onGone = std::move(m_onGone);
    }
    if (onGone) {
        m_pWindow->Post(std::move(onGone));
    }
}

void CControlDone::CHangUp::WhenGone(std::function<void()> onGone) {
    {
        const std::lock_guard lock(m_mutex);
        if (!m_bGone) {
            m_onGone = std::move(onGone);
            return;
        }
    }
    m_pWindow->Post(std::move(onGone));
}

void CControlDone::WhenGone(std::function<void()> onGone) const {
    if (m_pHangUp) {
        m_pHangUp->WhenGone(std::move(onGone));
    }
}
