// The window thread of the program without a display: a loop that runs the work other threads
// hand to it (through its CWindowThreadQueue) and timers by identifier, until Quit. The thread
// that constructs it is its window thread and must be the one that runs it.
#pragma once

#include "platform/ui/CWindowThreadQueue.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>

class CEventLoop {
public:
    CEventLoop();
    // Closes the queue: workers still reporting are released and their work dropped.
    ~CEventLoop();
    CEventLoop(const CEventLoop&) = delete;
    CEventLoop& operator=(const CEventLoop&) = delete;

    // What worker threads report through.
    std::shared_ptr<CWindowThreadQueue> Window() const { return m_pQueue; }

    // Window thread. Calls fn every period from the loop, first one period from now; a timer
    // of the same identifier is replaced. False when the period is not positive.
    bool SetTimer(int id, std::chrono::milliseconds period, std::function<void()> fn);
    void KillTimer(int id);

    // Window thread: runs queued work and timers until Quit.
    void Run();
    // Window thread: runs them until done() holds (checked after each round of work) or Quit;
    // answers done().
    bool RunUntil(const std::function<bool()>& done);
    // Any thread (not a signal handler): makes Run return soon.
    void Quit();

private:
    struct CSignal;
    struct CTimer {
        std::chrono::milliseconds period;
        std::chrono::steady_clock::time_point due;
        std::function<void()> fn;
    };

    void FireDueTimers();
    std::chrono::steady_clock::time_point NextDue() const;

    std::shared_ptr<CSignal> m_pSignal; // shared with the queue's wake, which may outlive us
    std::shared_ptr<CWindowThreadQueue> m_pQueue;
    std::map<int, CTimer> m_mapTimers;
};
