// The cache of directory sign-ins; see CLdapSignInCache.h.
#include "core/ldap/CLdapSignInCache.h"

#include <cstring>

CLdapSignInCache::CLdapSignInCache(Clock::duration lifetime, std::size_t nMaxEntries)
    : m_lifetime(lifetime), m_nMaxEntries(nMaxEntries),
      m_key(CSecretBytes::Random(kKeyedHashBytes)) {}

KeyedHashValue CLdapSignInCache::KeyOf(std::string_view name,
                                       std::span<const std::uint8_t> password) const {
    // The name's length goes first, so that no other split of the same bytes gives the same key.
    const std::uint64_t nNameBytes = name.size();
    // A plain buffer, wiped at once: locking pages for it on every "/Query" would cost more than
    // the hash.
    std::string data(sizeof nNameBytes + name.size() + password.size(), '\0');
    std::memcpy(data.data(), &nNameBytes, sizeof nNameBytes);
    std::memcpy(data.data() + sizeof nNameBytes, name.data(), name.size());
    std::memcpy(data.data() + sizeof nNameBytes + name.size(), password.data(), password.size());
    const KeyedHashValue key =
        KeyedHash(m_key.Bytes(), {reinterpret_cast<const std::uint8_t*>(data.data()), data.size()});
    ::explicit_bzero(data.data(), data.size());
    return key;
}

std::optional<CLdapSignInCache::SEntry>
CLdapSignInCache::Find(std::string_view name, std::span<const std::uint8_t> password,
                       Clock::time_point now) const {
    if (m_lifetime <= Clock::duration::zero()) {
        return std::nullopt;
    }
    const KeyedHashValue key = KeyOf(name, password);
    const std::shared_lock lock(m_mutex);
    const auto it = m_entries.find(key);
    if (it == m_entries.end() || it->second.expires <= now) {
        return std::nullopt;
    }
    return it->second.entry;
}

void CLdapSignInCache::Store(std::string_view name, std::span<const std::uint8_t> password,
                             SEntry entry, Clock::time_point now) {
    if (m_lifetime <= Clock::duration::zero()) {
        return;
    }
    const KeyedHashValue key = KeyOf(name, password);
    const std::lock_guard lock(m_mutex);
    MakeRoomLocked(now);
    m_entries.insert_or_assign(key, SHeld{std::move(entry), now + m_lifetime});
}

void CLdapSignInCache::MakeRoomLocked(Clock::time_point now) {
    if (m_entries.size() < m_nMaxEntries) {
        return;
    }
    std::erase_if(m_entries, [now](const auto& held) { return held.second.expires <= now; });
    // Still full of live entries (a flood of distinct sign-ins): start again rather than let
    // memory grow; the users in it bind once more.
    if (m_entries.size() >= m_nMaxEntries) {
        m_entries.clear();
    }
}

std::size_t CLdapSignInCache::Size() const {
    const std::shared_lock lock(m_mutex);
    return m_entries.size();
}
