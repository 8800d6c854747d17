// The cap on connections served at once. The acceptor waits for room before it accepts, so
// that clients beyond the cap wait in the kernel's listen queue instead of each costing a
// thread; it takes a slot for each connection it accepts, and the connection gives it back
// when it has been served. There is one acceptor at a time, so room found stays there until it
// takes it. Stop ends every wait, present and future, when the service stops.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

class CConnectionSlots {
public:
    enum class ERoom {
        Free,
        Full,    // every slot is taken: WaitForRoom waits for one
        Stopped, // the service stops
    };

    explicit CConnectionSlots(std::size_t nMax);

    ERoom CheckRoom();
    // Waits until a slot is free; false when the service stops first.
    bool WaitForRoom();
    void Take();
    void Give();
    void Stop();
    std::size_t Taken();

private:
    const std::size_t m_nMax;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_nTaken = 0;
    bool m_bStopped = false;
};
