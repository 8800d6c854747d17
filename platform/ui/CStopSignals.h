// SIGINT and SIGTERM as events of the GUI thread: the signals are blocked in every thread and read
// from a signal descriptor that Qt's event loop watches, so that a stop request closes the window
// in the orderly way instead of ending the process where it stands. Construct it before any other
// thread starts (the application object's too), so that every thread inherits the mask.
#pragma once

#include "platform/io/CUniqueFd.h"

#include <QSocketNotifier>
#include <functional>
#include <memory>

class CStopSignals {
public:
    CStopSignals();
    CStopSignals(const CStopSignals&) = delete;
    CStopSignals& operator=(const CStopSignals&) = delete;

    // With the application object made: onStop runs on the GUI thread for each stop signal.
    void OnStop(std::function<void()> onStop);

private:
    CUniqueFd m_fd;
    std::unique_ptr<QSocketNotifier> m_pNotifier;
    std::function<void()> m_onStop;
};
