// Timers by identifier for one window: SetTimer starts (or restarts) the timer with an identifier
// of the window's choosing, KillTimer stops it, and the window's timer events are told apart by
// those identifiers.
#pragma once

#include <QBasicTimer>
#include <map>
#include <optional>

class QObject;

class CTimerTable {
public:
    explicit CTimerTable(QObject& receiver) : m_receiver(receiver) {}

    // False when the timer cannot be set (a period below zero, no event loop on this thread).
    bool SetTimer(int nIDEvent, int nElapseMs);
    bool KillTimer(int nIDEvent);
    bool IsSet(int nIDEvent) const;
    // The identifier of the window's timer that Qt knows by qtTimerId.
    std::optional<int> Identify(int qtTimerId) const;

private:
    QObject& m_receiver;
    std::map<int, QBasicTimer> m_timers;
};
