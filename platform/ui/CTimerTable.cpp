#include "platform/ui/CTimerTable.h"

#include <QAbstractEventDispatcher>
#include <QObject>
#include <QThread>
#include <algorithm>

bool CTimerTable::SetTimer(int nIDEvent, int nElapseMs) {
    if (nElapseMs < 0 || QAbstractEventDispatcher::instance(m_receiver.thread()) == nullptr) {
        return false;
    }
    QBasicTimer& timer = m_timers[nIDEvent];
    timer.start(nElapseMs, &m_receiver);
    if (!timer.isActive()) {
        m_timers.erase(nIDEvent);
        return false;
    }
    return true;
}

bool CTimerTable::KillTimer(int nIDEvent) {
    const auto it = m_timers.find(nIDEvent);
    if (it == m_timers.end()) {
        return false;
    }
    it->second.stop();
    m_timers.erase(it);
    return true;
}

bool CTimerTable::IsSet(int nIDEvent) const {
    return m_timers.contains(nIDEvent);
}

std::optional<int> CTimerTable::Identify(int qtTimerId) const {
    const auto it = std::ranges::find_if(
        m_timers, [qtTimerId](const auto& entry) { return entry.second.timerId() == qtTimerId; });
    return it == m_timers.end() ? std::nullopt : std::optional(it->first);
}
