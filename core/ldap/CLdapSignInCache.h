// Directory sign-ins that succeeded, kept for a short while so that a page asking "/Query" again
// and again does not bind to the directory each time. An entry is filed under a keyed hash of
// the name and the password (the key is random and never leaves the process), so that the cache
// holds no password and answers only to the same name with the same password. Entries end after
// the cache's lifetime, which bounds how long a changed password or group takes to show; the
// cache holds a bounded number of them.
#pragma once

#include "platform/crypto/CSecretBytes.h"
#include "platform/crypto/KeyedHash.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CLdapSignInCache {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kDefaultMaxEntries = 10000;

    // What a sign-in found: the user's entry and the DNs of its groups.
    struct SEntry {
        std::string dn;
        std::vector<std::string> groups;
    };

    explicit CLdapSignInCache(Clock::duration lifetime,
                              std::size_t nMaxEntries = kDefaultMaxEntries);

    std::optional<SEntry> Find(std::string_view name, std::span<const std::uint8_t> password,
                               Clock::time_point now) const;
    // Nothing is kept with a lifetime of zero.
    void Store(std::string_view name, std::span<const std::uint8_t> password, SEntry entry,
               Clock::time_point now);
    std::size_t Size() const;

private:
    struct SHeld {
        SEntry entry;
        Clock::time_point expires;
    };
    KeyedHashValue KeyOf(std::string_view name, std::span<const std::uint8_t> password) const;
    void MakeRoomLocked(Clock::time_point now);

    const Clock::duration m_lifetime;
    const std::size_t m_nMaxEntries;
    const CSecretBytes m_key;
    // Lookups share it: every cached "/Query" takes it, and one holder that the scheduler puts
    // aside must not hold up the others.
    mutable std::shared_mutex m_mutex;
    std::map<KeyedHashValue, SHeld> m_entries;
};
