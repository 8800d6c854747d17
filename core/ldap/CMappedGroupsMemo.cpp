// The memo of mapped groups; see CMappedGroupsMemo.h.
#include "core/ldap/CMappedGroupsMemo.h"

#include "core/CDirectoryRules.h"

namespace {

std::string KeyOf(std::span<const std::string> directoryGroups) {
    std::string key;
    for (const std::string& dn : directoryGroups) {
        key += std::to_string(dn.size());
        key += ':';
        key += dn;
    }
    return key;
}

} // namespace

std::vector<std::u16string>
CMappedGroupsMemo::Mapped(const CGroupTable& groups, uint64_t generation,
                          std::span<const std::string> directoryGroups) {
    std::string key = KeyOf(directoryGroups);
    {
        const std::shared_lock lock(m_mutex);
        if (generation == m_generation) {
            if (const auto it = m_sets.find(key); it != m_sets.end()) {
                return it->second;
            }
        }
    }
    // Mapped outside the lock: the caller's shared guard keeps the table as it is meanwhile.
    std::vector<std::u16string> mapped = CDirectoryRules::MappedGroups(groups, directoryGroups);
    const std::lock_guard lock(m_mutex);
    if (generation != m_generation || m_sets.size() >= kMaxSets) {
        m_sets.clear();
        m_generation = generation;
    }
    m_sets.insert_or_assign(std::move(key), mapped);
    return mapped;
}
