// A control request's answer, its peer's hang-up and its progress; see CControlDone.h.
#include "control/CControlDone.h"

void CControlDone::CPeer::HangUp() {
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

void CControlDone::CPeer::WhenGone(std::function<void()> onGone) {
    {
        const std::lock_guard lock(m_mutex);
        if (!m_bGone) {
            m_onGone = std::move(onGone);
            return;
        }
    }
    m_pWindow->Post(std::move(onGone));
}

void CControlDone::CPeer::SetProgress(ControlProtocol::CControlProgress progress) {
    if (m_bWantsProgress) {
        const std::lock_guard lock(m_mutex);
        m_progress = progress;
    }
}

std::optional<ControlProtocol::CControlProgress> CControlDone::CPeer::TakeProgress() {
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_progress, std::nullopt);
}

void CControlDone::WhenGone(std::function<void()> onGone) const {
    if (m_pPeer) {
        m_pPeer->WhenGone(std::move(onGone));
    }
}

void CControlDone::Progress(std::size_t nDone, std::size_t nTotal) const {
    if (m_pPeer) {
        m_pPeer->SetProgress({nDone, nTotal});
    }
}
