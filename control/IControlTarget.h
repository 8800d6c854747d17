// What the control commands reach in the running front end (the window or the headless
// runner): the directory, the System tab's rows, discovery, and the Account tab that must show
// a change at once. Used on the window thread only.
#pragma once

#include "core/COrvaneSrvCore.h"
#include "storage/CServerDiscovery.h"
#include "storage/IServerListView.h"

#include <memory>

class IControlTarget {
public:
    virtual ~IControlTarget() = default;

    virtual COrvaneSrvCore& Core() = 0;
    virtual IServerListView& Servers() = 0;
    // What the login workers report through.
    virtual std::shared_ptr<IWindowThread> Window() = 0;
    // Nothing when discovery does not run (a window under test without it).
    virtual CServerDiscovery* Discovery() = 0;
    // After a change of the directory: the Account tab lists it again (nothing without one).
    virtual void OnDirectoryChanged() = 0;
};
