// Slows password guessing down: counts the failed credential checks of each client IPv4
// address, and once an address has failed kDefaultMaxFailures times within the window, every
// further attempt from it is refused unchecked until a whole window has passed since its last
// attempt. Addresses without failures are not tracked; entries that have been quiet for a
// window are dropped, and at most nMaxAddresses are kept (the least recently active goes
// first), so a flood from many addresses cannot use up memory. Thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <unordered_map>

class CLoginThrottle {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kDefaultMaxFailures = 10;
    static constexpr std::chrono::seconds kDefaultWindow{60};
    static constexpr std::size_t kDefaultMaxAddresses = 16384;

    explicit CLoginThrottle(int nMaxFailures = kDefaultMaxFailures,
                            Clock::duration window = kDefaultWindow,
                            std::size_t nMaxAddresses = kDefaultMaxAddresses);

    // Whether an attempt from the address is to be refused without a check. A refused attempt
    // counts as activity: the block lasts until a window after the last one.
    bool IsBlocked(uint32_t address, Clock::time_point now);
    // Records a failed check; true when it made the address blocked.
    bool RecordFailure(uint32_t address, Clock::time_point now);

    std::size_t TrackedAddresses() const;

private:
    struct CEntry {
        std::deque<Clock::time_point> failures; // within the window, oldest first
        Clock::time_point lastActivity;
        bool bBlocked = false;
        std::list<uint32_t>::iterator order;
    };

    // Drops the entries that have been quiet for a whole window.
    void Prune(Clock::time_point now);
    CEntry& Touch(uint32_t address, Clock::time_point now);

    const std::size_t m_nMaxFailures;
    const Clock::duration m_window;
    const std::size_t m_nMaxAddresses;
    mutable std::mutex m_mutex;
    std::unordered_map<uint32_t, CEntry> m_entries;
    std::list<uint32_t> m_order; // most recently active first
};
