#include "platform/ui/CQtWindowThread.h"

#include <QMetaObject>
#include <QObject>
#include <mutex>

// Where the wakes go. A worker may wake while the window thread closes: the mutex makes sure no
// wake is queued for an object that is being destroyed.
struct CQtWindowThread::CWakeTarget {
    std::mutex mutex;
    std::unique_ptr<QObject> receiver = std::make_unique<QObject>();
    std::weak_ptr<CWindowThreadQueue> queue;

    void Wake() {
        std::lock_guard lock(mutex);
        if (!receiver) {
            return;
        }
        std::weak_ptr<CWindowThreadQueue> weak = queue;
        QMetaObject::invokeMethod(
            receiver.get(),
            [weak] {
                if (auto q = weak.lock()) {
                    q->Drain();
                }
            },
            Qt::QueuedConnection);
    }
};

CQtWindowThread::CQtWindowThread() : m_pTarget(std::make_shared<CWakeTarget>()) {
    std::weak_ptr<CWakeTarget> target = m_pTarget;
    m_pQueue = std::make_shared<CWindowThreadQueue>([target] {
        if (auto t = target.lock()) {
            t->Wake();
        }
    });
    m_pTarget->queue = m_pQueue;
}

CQtWindowThread::~CQtWindowThread() {
    Close();
}

void CQtWindowThread::Close() {
    m_pQueue->Close();
    std::unique_ptr<QObject> receiver;
    {
        std::lock_guard lock(m_pTarget->mutex);
        receiver = std::move(m_pTarget->receiver);
    }
    // Destroyed outside the lock; its pending wakes go with it.
}
