// The window thread of the Qt front end: a CWindowThreadQueue whose wake queues a Drain in Qt's
// event loop, so that what workers send and post runs on the GUI thread between events (also
// inside modal dialogs, which run the same loop). Close() when the window goes away: queued work
// is dropped, waiting senders are released, and wakes no longer reach Qt.
#pragma once

#include "platform/ui/CWindowThreadQueue.h"

#include <memory>

class CQtWindowThread {
public:
    // On the GUI thread, with the application object made.
    CQtWindowThread();
    ~CQtWindowThread();
    CQtWindowThread(const CQtWindowThread&) = delete;
    CQtWindowThread& operator=(const CQtWindowThread&) = delete;

    const std::shared_ptr<CWindowThreadQueue>& Queue() const { return m_pQueue; }
    void Close();

private:
    struct CWakeTarget;

    std::shared_ptr<CWakeTarget> m_pTarget;
    std::shared_ptr<CWindowThreadQueue> m_pQueue;
};
