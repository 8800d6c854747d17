// Hands work from worker threads to the window thread, the one thread that changes the tables and
// the user interface: what the discovery thread and the login workers report runs there.
//
// A sent item runs on the window thread while the sender waits, so that what it points to stays
// valid (a sent message); a posted item runs later (a posted message). Once the window is going
// away the queue is closed: queued items are dropped, a waiting sender is released at once, and
// later items are dropped too, so no worker ever waits forever at shutdown.
//
// This header and CWindowThreadQueue know nothing of Qt: storage/ and the headless front end use
// them; platform/ui's Qt side wakes the window thread to drain the queue.
#pragma once

#include <functional>

class IWindowThread {
public:
    virtual ~IWindowThread() = default;

    // Runs work on the window thread and waits until it has run; false (work not run) when the
    // window has gone away. Called on the window thread itself, it runs work at once.
    virtual bool Send(std::function<void()> work) = 0;
    // Queues work for the window thread; dropped when the window has gone away.
    virtual void Post(std::function<void()> work) = 0;
};
