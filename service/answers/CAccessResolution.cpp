#include "service/answers/CAccessResolution.h"

namespace {

// Kept entries beyond the groups the directory holds: those of deleted or renamed groups. Past
// it, the entries are dropped and resolved again as they are asked for.
constexpr std::size_t kSpareEntries = 64;

bool StillHolds(const CGroupRecords& kept, const CTablesView& tables, const CGroupData& group) {
    // Addresses of another set of records may point at freed ones: checked on every use.
    if (kept.membership != tables.servers.Membership()) {
        return false;
    }
    if (kept.checkedAt.load(std::memory_order_relaxed) == tables.generation) {
        return true;
    }
    if (kept.access != group.m_listAccess) {
        return false;
    }
    kept.checkedAt.store(tables.generation, std::memory_order_relaxed);
    return true;
}

std::shared_ptr<const CGroupRecords> Resolve(const CTablesView& tables, const CGroupData& group) {
    auto resolved = std::make_shared<CGroupRecords>();
    resolved->membership = tables.servers.Membership();
    resolved->access = group.m_listAccess;
    resolved->checkedAt.store(tables.generation, std::memory_order_relaxed);
    resolved->records.reserve(group.m_listAccess.size());
    // A record is filed under exactly the MAC text its m_szMAC field holds, so looking an access
    // entry up by key finds the same records as comparing every record's field would. An entry
    // spelled otherwise than its array announces (typed before discovery found it) still
    // reaches it; a repeat is dropped where the document is built.
    for (const std::u16string& mac : group.m_listAccess) {
        if (const CServerData* record = tables.servers.Find(mac); record != nullptr) {
            resolved->records.push_back(record);
        } else {
            tables.servers.FindAlike(mac, resolved->records);
        }
    }
    return resolved;
}

} // namespace

std::shared_ptr<const CGroupRecords> CAccessResolution::Records(const CTablesView& tables,
                                                                const std::u16string& groupName,
                                                                const CGroupData& group) {
    std::shared_ptr<const CGroupRecords> kept;
    {
        const std::lock_guard lock(m_mutex);
        if (const auto it = m_groups.find(groupName); it != m_groups.end()) {
            kept = it->second;
        }
    }
    if (kept && StillHolds(*kept, tables, group)) {
        return kept;
    }
    // Resolved outside the mutex (the shared guard keeps the tables still): readers of other
    // groups do not wait on the lookups.
    std::shared_ptr<const CGroupRecords> resolved = Resolve(tables, group);
    const std::lock_guard lock(m_mutex);
    if (m_groups.size() > tables.groups.size() + kSpareEntries) {
        m_groups.clear();
    }
    m_groups.insert_or_assign(groupName, resolved);
    return resolved;
}
