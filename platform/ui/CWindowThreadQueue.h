// The queue behind IWindowThread: worker threads put items in, the window thread drains them. The
// owner of the window thread supplies a wake function that makes the window thread call Drain()
// soon (a queued call in Qt's event loop, a condition variable in the headless loop); it may be
// called from any thread and must not block.
#pragma once

#include "platform/ui/IWindowThread.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class CWindowThreadQueue : public IWindowThread {
public:
    // Must be constructed on the window thread.
    explicit CWindowThreadQueue(std::function<void()> wake);
    ~CWindowThreadQueue() override;
    CWindowThreadQueue(const CWindowThreadQueue&) = delete;
    CWindowThreadQueue& operator=(const CWindowThreadQueue&) = delete;

    bool Send(std::function<void()> work) override;
    void Post(std::function<void()> work) override;

    // Window thread: runs the items queued so far, in order. Items queued while it runs wait for
    // the next call (a new wake is issued for them).
    void Drain();
    // Window thread, when the window is going away: drops every queued item, releases waiting
    // senders (their Send answers false) and refuses everything from now on.
    void Close();
    bool IsClosed() const;
    bool OnWindowThread() const { return std::this_thread::get_id() == m_windowThread; }

private:
    struct CItem;

    bool Enqueue(std::shared_ptr<CItem> item);

    const std::function<void()> m_wake;
    const std::thread::id m_windowThread;
    mutable std::mutex m_mutex;
    std::condition_variable m_done;
    std::deque<std::shared_ptr<CItem>> m_items;
    bool m_bClosed = false;
};
