// Slows password guessing down, by client address and by user name. Every attempt is admitted
// (and counted as in flight) before its check and finished after it, in one step each, so that
// many attempts released at once cannot all slip past the count: an attempt that the checks in
// flight could push over a limit waits (briefly: a check takes microseconds) until they end,
// and is refused unchecked when they do not end within inFlightWait.
//
// By address: once an address has failed nMaxFailures times within the window (checks in
// flight count towards it), every further attempt from it is refused unchecked until a whole
// window has passed since its last attempt.
//
// By user name, across addresses: once a name has failed nMaxNameFailures times within the
// window, the addresses that failed it within the window have their checks of it let through
// at most one per nameCheckInterval between them, until a whole window passes without a
// failure; the rest are refused unchecked. An address that has not failed the name is checked
// as usual: were the slowing shared with every address, a guesser spread over many of them
// would take each check it lets through and lock the user out.
//
// Entries that have been quiet for a window are dropped, and at most nMaxEntries addresses and
// as many names are kept (the least recently active go first), so a flood of addresses or
// names cannot use up memory. Which names an address failed is kept with the address's own
// failures, as a hash of each name: no more than the failures that block it. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

class CLoginThrottle {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kDefaultMaxFailures = 10;
    static constexpr int kDefaultMaxNameFailures = 50;
    static constexpr std::chrono::seconds kDefaultWindow{60};
    static constexpr std::chrono::seconds kDefaultNameCheckInterval{1};
    static constexpr std::size_t kDefaultMaxAddresses = 16384;
    static constexpr std::chrono::milliseconds kDefaultInFlightWait{2000};

    struct CSettings {
        int nMaxFailures = kDefaultMaxFailures;
        Clock::duration window = kDefaultWindow;
        std::size_t nMaxEntries = kDefaultMaxAddresses;
        int nMaxNameFailures = kDefaultMaxNameFailures;
        Clock::duration nameCheckInterval = kDefaultNameCheckInterval;
        std::chrono::milliseconds inFlightWait = kDefaultInFlightWait;
    };

    enum class EAdmit {
        Check,          // check the credentials, then call Finish
        AddressBlocked, // refuse unchecked: the address has failed too often
        NameSlowed,     // refuse unchecked: the address failed the name, and the name's one
                        // check per interval for such addresses is taken
    };

    // The decision on an attempt and, when it is refused, how long until an attempt from the
    // same address for the same name may be checked (what a client is told to wait).
    struct CAdmission {
        EAdmit eAdmit = EAdmit::Check;
        Clock::duration retryAfter{};
        bool operator==(EAdmit e) const { return eAdmit == e; }
    };

    // What a failure set off, for the log: each is reported once when it begins.
    struct CFailureNews {
        bool bAddressBlocked = false;
        bool bNameSlowed = false;
    };

    CLoginThrottle() : CLoginThrottle(CSettings{}) {}
    explicit CLoginThrottle(const CSettings& settings);

    // Decides whether an attempt from the address for the user name is checked; a Check is in
    // flight until Finish. now is the throttle's time; waits for checks in flight go by the
    // steady clock. A refused attempt counts as activity of the address: its block lasts
    // until a window after the last one.
    CAdmission Admit(uint32_t address, std::string_view name, Clock::time_point now);
    // Ends an attempt that Admit let through, with the result of its check.
    CFailureNews Finish(uint32_t address, std::string_view name, bool bFailed,
                        Clock::time_point now);

    std::size_t TrackedAddresses() const;
    std::size_t TrackedNames() const;

private:
    struct CFailure {
        Clock::time_point at;
        std::size_t nameHash = 0; // of the name tried, for an address's failures
    };

    struct CRecord {
        std::deque<CFailure> failures; // within the window, oldest first, at most the limit
        std::size_t nInFlight = 0;
        Clock::time_point lastActivity;
        bool bLimited = false;       // the address blocked, the name slowed
        Clock::time_point nextCheck; // a slowed name's next check
    };

    // Records keyed by address or name, most recently active first, bounded in number.
    template <class Key>
    class CRecords {
    public:
        explicit CRecords(std::size_t nMax) : m_nMax(nMax > 0 ? nMax : 1) {}
        // Drops the records quiet for a whole window.
        void Prune(Clock::time_point now, Clock::duration window);
        // The record of key, made if needed, marked active now.
        CRecord& Touch(const Key& key, Clock::time_point now);
        std::size_t Size() const { return m_map.size(); }

    private:
        struct CSlot {
            CRecord record;
            typename std::list<Key>::iterator order;
        };
        const std::size_t m_nMax;
        std::unordered_map<Key, CSlot> m_map;
        std::list<Key> m_order; // most recently active first
    };

    void ForgetOld(CRecord& record, Clock::time_point now) const;
    // Adds a failure, keeping no more than the limit (which a failure over it has no use for).
    static void AddFailure(CRecord& record, CFailure failure, std::size_t nMax);
    static bool HasFailed(const CRecord& byAddress, std::size_t nameHash);

    const CSettings m_settings;
    const std::size_t m_nMaxFailures;
    const std::size_t m_nMaxNameFailures;
    mutable std::mutex m_mutex;
    std::condition_variable m_finished;
    CRecords<uint32_t> m_addresses;
    CRecords<std::string> m_names;
};
