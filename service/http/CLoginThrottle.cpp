#include "service/http/CLoginThrottle.h"

#include <algorithm>
#include <functional>

namespace {

std::size_t AtLeastOne(int n) {
    return static_cast<std::size_t>(n > 0 ? n : 1);
}

std::size_t NameHash(std::string_view name) {
    return std::hash<std::string_view>{}(name);
}

// Wakes every waiter when it goes, after the state they wait on has changed.
class CNotifyOnExit {
public:
    explicit CNotifyOnExit(std::condition_variable& cv) : m_cv(cv) {}
    ~CNotifyOnExit() { m_cv.notify_all(); }
    CNotifyOnExit(const CNotifyOnExit&) = delete;
    CNotifyOnExit& operator=(const CNotifyOnExit&) = delete;

private:
    std::condition_variable& m_cv;
};

} // namespace

template <class Key>
void CLoginThrottle::CRecords<Key>::Prune(Clock::time_point now, Clock::duration window) {
    // The order list runs from the most to the least recently active record, so the quiet ones
    // are all at its end.
    while (!m_order.empty() && now - m_map.at(m_order.back()).record.lastActivity >= window) {
        m_map.erase(m_order.back());
        m_order.pop_back();
    }
}

template <class Key>
CLoginThrottle::CRecord& CLoginThrottle::CRecords<Key>::Touch(const Key& key,
                                                              Clock::time_point now) {
    auto it = m_map.find(key);
    if (it == m_map.end()) {
        if (m_map.size() >= m_nMax) {
            m_map.erase(m_order.back());
            m_order.pop_back();
        }
        m_order.push_front(key);
        it = m_map.emplace(key, CSlot{}).first;
        it->second.order = m_order.begin();
    } else {
        m_order.splice(m_order.begin(), m_order, it->second.order);
    }
    it->second.record.lastActivity = now;
    return it->second.record;
}

CLoginThrottle::CLoginThrottle(const CSettings& settings)
    : m_settings(settings), m_nMaxFailures(AtLeastOne(settings.nMaxFailures)),
      m_nMaxNameFailures(AtLeastOne(settings.nMaxNameFailures)), m_addresses(settings.nMaxEntries),
      m_names(settings.nMaxEntries) {}

void CLoginThrottle::ForgetOld(CRecord& record, Clock::time_point now) const {
    while (!record.failures.empty() && now - record.failures.front().at >= m_settings.window) {
        record.failures.pop_front();
    }
}

void CLoginThrottle::AddFailure(CRecord& record, CFailure failure, std::size_t nMax) {
    record.failures.push_back(failure);
    if (record.failures.size() > nMax) {
        record.failures.pop_front();
    }
}

bool CLoginThrottle::HasFailed(const CRecord& byAddress, std::size_t nameHash) {
    // An address that failed more names than it keeps is blocked, and stays so until all of
    // them are older than the window: the failures kept are all that can count.
    return std::any_of(byAddress.failures.begin(), byAddress.failures.end(),
                       [nameHash](const CFailure& f) { return f.nameHash == nameHash; });
}

CLoginThrottle::CAdmission CLoginThrottle::Admit(uint32_t address, std::string_view name,
                                                 Clock::time_point now) {
    const auto giveUp = Clock::now() + m_settings.inFlightWait;
    const std::string key(name);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_addresses.Prune(now, m_settings.window);
        m_names.Prune(now, m_settings.window);
        CRecord& byAddress = m_addresses.Touch(address, now);
        ForgetOld(byAddress, now);
        if (byAddress.bLimited) {
            // This attempt counts as activity: the block ends a whole window from now.
            return {EAdmit::AddressBlocked, m_settings.window};
        }
        CRecord& byName = m_names.Touch(key, now);
        ForgetOld(byName, now);
        if (byName.bLimited && byName.failures.empty()) {
            byName.bLimited = false; // a whole window without a failure
        }
        // Checks in flight might all fail: until they end, they count as failures.
        const bool bAddressFull = byAddress.failures.size() + byAddress.nInFlight >= m_nMaxFailures;
        const bool bNameFull =
            !byName.bLimited && byName.failures.size() + byName.nInFlight >= m_nMaxNameFailures;
        if (!bAddressFull && !bNameFull) {
            if (byName.bLimited && HasFailed(byAddress, NameHash(name))) {
                if (now < byName.nextCheck) {
                    return {EAdmit::NameSlowed, byName.nextCheck - now};
                }
                byName.nextCheck = now + m_settings.nameCheckInterval;
            }
            ++byAddress.nInFlight;
            ++byName.nInFlight;
            return {EAdmit::Check, {}};
        }
        if (m_finished.wait_until(lock, giveUp) == std::cv_status::timeout) {
            // Checks in flight that did not end in time: by then they normally have.
            return {bAddressFull ? EAdmit::AddressBlocked : EAdmit::NameSlowed,
                    std::chrono::duration_cast<Clock::duration>(m_settings.inFlightWait)};
        }
    }
}

CLoginThrottle::CFailureNews CLoginThrottle::Finish(uint32_t address, std::string_view name,
                                                    bool bFailed, Clock::time_point now) {
    std::unique_lock lock(m_mutex);
    CRecord& byAddress = m_addresses.Touch(address, now);
    CRecord& byName = m_names.Touch(std::string(name), now);
    byAddress.nInFlight -= std::min<std::size_t>(byAddress.nInFlight, 1);
    byName.nInFlight -= std::min<std::size_t>(byName.nInFlight, 1);
    // Attempts waiting for this one decide with its outcome known.
    const CNotifyOnExit notify(m_finished);
    CFailureNews news;
    if (!bFailed) {
        return news;
    }
    ForgetOld(byAddress, now);
    AddFailure(byAddress, {now, NameHash(name)}, m_nMaxFailures);
    if (!byAddress.bLimited && byAddress.failures.size() >= m_nMaxFailures) {
        byAddress.bLimited = true;
        news.bAddressBlocked = true;
    }
    ForgetOld(byName, now);
    AddFailure(byName, {now}, m_nMaxNameFailures);
    if (!byName.bLimited && byName.failures.size() >= m_nMaxNameFailures) {
        byName.bLimited = true;
        byName.nextCheck = std::max(byName.nextCheck, now + m_settings.nameCheckInterval);
        news.bNameSlowed = true;
    }
    return news;
}

std::size_t CLoginThrottle::TrackedAddresses() const {
    std::lock_guard lock(m_mutex);
    return m_addresses.Size();
}

std::size_t CLoginThrottle::TrackedNames() const {
    std::lock_guard lock(m_mutex);
    return m_names.Size();
}
