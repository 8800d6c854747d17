// The shared login workers: the round-robin ring of requests, the worker loop and its start.
#include "storage/CLoginPool.h"

#include <algorithm>
#include <deque>
#include <list>
#include <mutex>
#include <sys/resource.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

// How much a login worker yields to the window thread. A login to hundreds of servers keeps the
// whole pool busy; at the window thread's own priority the workers would take the processor from
// it for as long as they run, and the window would stand still.
constexpr int kWorkerNiceness = 10;

// Linux gives each thread its own niceness; a failure leaves the thread as it was.
void YieldToTheWindowThread() {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kWorkerNiceness);
}

} // namespace

struct CLoginPool::CQueue {
    std::deque<CJob> jobs; // under CShared::mutex
};

struct CLoginPool::CShared {
    explicit CShared(std::size_t nMax) : nMax(std::max<std::size_t>(nMax, 1)) {}

    const std::size_t nMax;
    std::mutex mutex;
    // Requests with queued jobs, the next one to serve first; a served request goes to the back.
    std::list<std::shared_ptr<CQueue>> ring;
    std::size_t nWorkers = 0;

    // Under mutex: the next job in round-robin order, or none.
    CJob TakeNext() {
        if (ring.empty()) {
            return {};
        }
        std::shared_ptr<CQueue> queue = std::move(ring.front());
        ring.pop_front();
        CJob job = std::move(queue->jobs.front());
        queue->jobs.pop_front();
        if (!queue->jobs.empty()) {
            ring.push_back(std::move(queue));
        }
        return job;
    }

    // Under mutex: the request's queued jobs, out of the ring (destroyed by the caller, unlocked).
    std::deque<CJob> Remove(const std::shared_ptr<CQueue>& queue) {
        ring.remove(queue);
        return std::exchange(queue->jobs, {});
    }
};

namespace {

void WorkerProc(std::shared_ptr<CLoginPool::CShared> shared) {
    YieldToTheWindowThread();
    for (;;) {
        CLoginPool::CJob job;
        {
            std::lock_guard lock(shared->mutex);
            job = shared->TakeNext();
            if (!job) {
                --shared->nWorkers;
                return;
            }
        }
        job(CLoginPool::ERun::OnWorker);
    }
}

} // namespace

CLoginPool::CTicket::CTicket(std::weak_ptr<CShared> pool, std::shared_ptr<CQueue> queue)
    : m_pPool(std::move(pool)), m_pQueue(std::move(queue)) {}

CLoginPool::CTicket::~CTicket() {
    Drop();
}

CLoginPool::CTicket& CLoginPool::CTicket::operator=(CTicket&& other) noexcept {
    if (this != &other) {
        Drop();
        m_pPool = std::move(other.m_pPool);
        m_pQueue = std::move(other.m_pQueue);
    }
    return *this;
}

void CLoginPool::CTicket::Drop() {
    const std::shared_ptr<CShared> shared = m_pPool.lock();
    if (!shared || !m_pQueue) {
        return;
    }
    std::deque<CJob> dropped;
    {
        std::lock_guard lock(shared->mutex);
        dropped = shared->Remove(m_pQueue);
    }
    // What the jobs hold is let go here, outside the pool's lock.
}

bool CLoginPool::CTicket::HasQueued() const {
    const std::shared_ptr<CShared> shared = m_pPool.lock();
    if (!shared || !m_pQueue) {
        return false;
    }
    std::lock_guard lock(shared->mutex);
    return !m_pQueue->jobs.empty();
}

CLoginPool::CLoginPool(std::size_t nMaxInFlight)
    : m_pShared(std::make_shared<CShared>(nMaxInFlight)) {}

CLoginPool::~CLoginPool() {
    std::list<std::shared_ptr<CQueue>> ring;
    {
        std::lock_guard lock(m_pShared->mutex);
        ring.swap(m_pShared->ring);
        for (const std::shared_ptr<CQueue>& queue : ring) {
            queue->jobs.clear();
        }
    }
}

CLoginPool::CTicket CLoginPool::Submit(std::vector<CJob> jobs) {
    auto queue = std::make_shared<CQueue>();
    if (jobs.empty()) {
        return {m_pShared, queue};
    }
    const std::size_t nJobs = jobs.size();
    std::deque<CJob> orphans;
    {
        std::lock_guard lock(m_pShared->mutex);
        queue->jobs.assign(std::make_move_iterator(jobs.begin()),
                           std::make_move_iterator(jobs.end()));
        m_pShared->ring.push_back(queue);
        // Every running worker is busy or about to take from the ring: new work needs new workers,
        // up to the cap.
        for (std::size_t started = 0; started < nJobs && m_pShared->nWorkers < m_pShared->nMax;
             ++started) {
            try {
                std::thread(WorkerProc, m_pShared).detach();
            } catch (const std::system_error&) {
                break;
            }
            ++m_pShared->nWorkers;
        }
        if (m_pShared->nWorkers == 0) {
            orphans = m_pShared->Remove(queue);
        }
    }
    for (CJob& job : orphans) {
        job(ERun::NoWorker);
    }
    return {m_pShared, queue};
}
