// Discovery passes over the core's server table every period, on a window thread of their own, as
// the headless program runs them: each pass refreshes every record it finds under the exclusive
// guard, so the guard's generation moves thousands of times a pass and whatever readers derived
// from the tables (the service's "/Query" answers) must be composed again. The SLP calls go to
// whatever function table is given; the benchmark gives it an in-memory directory agent.
#pragma once

#include "core/COrvaneSrvCore.h"
#include "storage/CSlpFunctions.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <thread>

class CDiscoveryChurn {
public:
    // Starts the first pass at once and then one every period (a pass still running when the
    // period comes round is left to end, as the program's timer does).
    CDiscoveryChurn(COrvaneSrvCore& core, CSlpFunctions slp, std::chrono::milliseconds period);
    // Stops starting passes, waits for the one running to end and its thread to leave.
    ~CDiscoveryChurn();
    CDiscoveryChurn(const CDiscoveryChurn&) = delete;
    CDiscoveryChurn& operator=(const CDiscoveryChurn&) = delete;

    // Passes ended so far and how long they took together.
    std::size_t PassesEnded() const { return m_nPassesEnded; }
    std::chrono::milliseconds PassTime() const {
        return std::chrono::milliseconds(m_nPassMs.load());
    }

private:
    void Run(COrvaneSrvCore& core, CSlpFunctions slp, std::chrono::milliseconds period);

    std::atomic<bool> m_bStop{false};
    std::atomic<std::size_t> m_nPassesEnded{0};
    std::atomic<long long> m_nPassMs{0};
    std::thread m_thread;
};
