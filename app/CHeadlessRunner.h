// The program without a window: start-up in the usual order, discovery passes every 30 seconds
// (the first at once) on a window thread of its own, until SIGINT or SIGTERM, then the orderly
// stop. Used when there is no display to show the console on.
#pragma once

#include "core/COrvaneSrvApp.h"

class CHeadlessRunner {
public:
    explicit CHeadlessRunner(COrvaneSrvApp& app);

    // Runs until SIGINT or SIGTERM; answers the process exit status. A second copy finds the
    // first one's instance lock and ends at once with status 0, having touched nothing. A
    // directory store that cannot be used ends it at once with status 2 and the reason on
    // standard error.
    int Run();

private:
    COrvaneSrvApp& m_app;
};
