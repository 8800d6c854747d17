// The one pool that every login of the process runs on: the Login button, each "orvanectl login"
// and any later caller share at most kMaxInFlight worker threads, so that a press on ten thousand
// rows plus a handful of control connections never need more threads or sockets than that.
//
// Each caller's batch of logins is one request; workers serve the requests round-robin, one login
// each in turn, so a fleet-wide login does not starve a one-array login queued after it. Dropping
// a request's ticket drops its queued logins; running ones finish on their own. Workers hold the
// pool's state by shared pointer: nothing waits for them, neither a ticket nor the pool itself.
// Qt-free; the workers run below the window thread's priority so that the window stays responsive.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

class CLoginPool {
public:
    static constexpr std::size_t kMaxInFlight = 32;

    // How a job is called: on a pool worker, or at once on the submitting thread because not a
    // single worker could be started (the job then reports a failure without doing its work).
    enum class ERun { OnWorker, NoWorker };
    using CJob = std::function<void(ERun)>;

    struct CShared;
    struct CQueue;

    // Keeps one request's queued jobs in the pool; destroying it (or Drop) drops those not
    // started yet.
    class CTicket {
    public:
        CTicket() = default;
        CTicket(std::weak_ptr<CShared> pool, std::shared_ptr<CQueue> queue);
        ~CTicket();
        CTicket(CTicket&& other) noexcept = default;
        CTicket& operator=(CTicket&& other) noexcept;
        CTicket(const CTicket&) = delete;
        CTicket& operator=(const CTicket&) = delete;

        void Drop();
        // Whether jobs of the request still wait for a worker.
        bool HasQueued() const;

    private:
        std::weak_ptr<CShared> m_pPool;
        std::shared_ptr<CQueue> m_pQueue;
    };

    explicit CLoginPool(std::size_t nMaxInFlight = kMaxInFlight);
    // Queued jobs are dropped; running ones end on their own.
    ~CLoginPool();
    CLoginPool(const CLoginPool&) = delete;
    CLoginPool& operator=(const CLoginPool&) = delete;

    // Queues jobs as one request behind those already waiting; any thread.
    [[nodiscard]] CTicket Submit(std::vector<CJob> jobs);

private:
    std::shared_ptr<CShared> m_pShared;
};
