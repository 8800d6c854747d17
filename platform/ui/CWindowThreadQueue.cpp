#include "platform/ui/CWindowThreadQueue.h"

struct CWindowThreadQueue::CItem {
    std::function<void()> work;
    bool bSent = false;
    bool bFinished = false; // ran, or was dropped
    bool bRan = false;
};

CWindowThreadQueue::CWindowThreadQueue(std::function<void()> wake)
    : m_wake(std::move(wake)), m_windowThread(std::this_thread::get_id()) {}

CWindowThreadQueue::~CWindowThreadQueue() {
    Close();
}

bool CWindowThreadQueue::Enqueue(std::shared_ptr<CItem> item) {
    {
        std::lock_guard lock(m_mutex);
        if (m_bClosed) {
            return false;
        }
        m_items.push_back(std::move(item));
    }
    m_wake();
    return true;
}

bool CWindowThreadQueue::Send(std::function<void()> work) {
    if (OnWindowThread()) {
        if (IsClosed()) {
            return false;
        }
        work();
        return true;
    }
    auto item = std::make_shared<CItem>();
    item->work = std::move(work);
    item->bSent = true;
    if (!Enqueue(item)) {
        return false;
    }
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [&] { return item->bFinished; });
    return item->bRan;
}

void CWindowThreadQueue::Post(std::function<void()> work) {
    auto item = std::make_shared<CItem>();
    item->work = std::move(work);
    Enqueue(std::move(item));
}

void CWindowThreadQueue::Drain() {
    std::deque<std::shared_ptr<CItem>> batch;
    {
        std::lock_guard lock(m_mutex);
        batch.swap(m_items);
    }
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const std::shared_ptr<CItem>& item = batch[i];
        if (IsClosed()) {
            // An item that ran before closed the queue; the rest are dropped.
            std::lock_guard lock(m_mutex);
            for (std::size_t k = i; k < batch.size(); ++k) {
                batch[k]->bFinished = true;
            }
            m_done.notify_all();
            return;
        }
        item->work();
        std::lock_guard lock(m_mutex);
        item->bRan = true;
        item->bFinished = true;
        if (item->bSent) {
            m_done.notify_all();
        }
    }
}

void CWindowThreadQueue::Close() {
    std::lock_guard lock(m_mutex);
    m_bClosed = true;
    for (const std::shared_ptr<CItem>& item : m_items) {
        item->bFinished = true;
    }
    m_items.clear();
    m_done.notify_all();
}

bool CWindowThreadQueue::IsClosed() const {
    std::lock_guard lock(m_mutex);
    return m_bClosed;
}
