// The program without a window: start-up in the usual order, discovery passes every 30 seconds
// (the first at once) on a window thread of its own, until SIGINT or SIGTERM, then the orderly
// stop. Used when there is no display to show the console on.
#pragma once

#include "core/COrvaneSrvApp.h"

#include <csignal>

class CHeadlessRunner {
public:
    explicit CHeadlessRunner(COrvaneSrvApp& app);

    // Runs until SIGINT or SIGTERM; answers the process exit status. A second copy finds the
    // first one's instance lock and ends at once with status 0, having touched nothing.
    int Run();

private:
    // Runs the discovery passes until one of the stop signals comes; answers whether a pass
    // thread was still running when it returned.
    static bool RunWindowThread(COrvaneSrvCore& core, const sigset_t& stopSignals);

    COrvaneSrvApp& m_app;
};
