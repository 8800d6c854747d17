// The headless window thread: one condition variable wakes it for queued work and Quit, the
// earliest timer bounds each wait.
#include "platform/ui/CEventLoop.h"

#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

using Clock = std::chrono::steady_clock;

// Wakes the loop. A worker may call the queue's wake after the loop is gone, so the wake holds
// this by shared pointer rather than the loop itself.
struct CEventLoop::CSignal {
    std::mutex mutex;
    std::condition_variable cv;
    bool bWork = false;
    bool bQuit = false;

    void Notify(bool quit) {
        {
            std::lock_guard lock(mutex);
            (quit ? bQuit : bWork) = true;
        }
        cv.notify_one();
    }
};

CEventLoop::CEventLoop()
    : m_pSignal(std::make_shared<CSignal>()),
      m_pQueue(
          std::make_shared<CWindowThreadQueue>([signal = m_pSignal] { signal->Notify(false); })) {}

CEventLoop::~CEventLoop() {
    m_pQueue->Close();
}

bool CEventLoop::SetTimer(int id, std::chrono::milliseconds period, std::function<void()> fn) {
    if (period.count() <= 0) {
        return false;
    }
    m_mapTimers[id] = CTimer{period, Clock::now() + period, std::move(fn)};
    return true;
}

void CEventLoop::KillTimer(int id) {
    m_mapTimers.erase(id);
}

void CEventLoop::Quit() {
    m_pSignal->Notify(true);
}

Clock::time_point CEventLoop::NextDue() const {
    auto next = Clock::time_point::max();
    for (const auto& [id, timer] : m_mapTimers) {
        next = std::min(next, timer.due);
    }
    return next;
}

void CEventLoop::FireDueTimers() {
    const auto now = Clock::now();
    std::vector<int> due;
    for (const auto& [id, timer] : m_mapTimers) {
        if (timer.due <= now) {
            due.push_back(id);
        }
    }
    for (const int id : due) {
        // An earlier callback may have killed or replaced this timer.
        auto it = m_mapTimers.find(id);
        if (it == m_mapTimers.end() || it->second.due > now) {
            continue;
        }
        // Ticks missed while the loop was busy are not made up.
        it->second.due = now + it->second.period;
        auto fn = it->second.fn; // the callback may kill its own timer
        fn();
    }
}

void CEventLoop::Run() {
    RunUntil([] { return false; });
}

bool CEventLoop::RunUntil(const std::function<bool()>& done) {
    while (!done()) {
        bool work = false;
        {
            std::unique_lock lock(m_pSignal->mutex);
            const auto woken = [&] { return m_pSignal->bWork || m_pSignal->bQuit; };
            if (m_mapTimers.empty()) {
                m_pSignal->cv.wait(lock, woken);
            } else {
                m_pSignal->cv.wait_until(lock, NextDue(), woken);
            }
            if (m_pSignal->bQuit) {
                m_pSignal->bQuit = false;
                return done();
            }
            work = std::exchange(m_pSignal->bWork, false);
        }
        if (work) {
            m_pQueue->Drain();
        }
        FireDueTimers();
    }
    return true;
}
