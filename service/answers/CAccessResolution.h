// The storage server records that each group's access list names, looked up once and then kept
// while neither that access list nor the server table's set of records changes: a discovery pass
// that refreshes records in place, a login or a pushed password leaves them standing, so that
// composing a "/Query" answer reads the records without a table lookup per MAC.
//
// What it keeps are record addresses: they are handed out only under the shared guard, after
// checking that the table still shows the set of records they were taken from (see
// CServerTable::Membership), and are good only until that hold ends. The records' flags and
// rendered elements are read where the answer is composed, as they are at that moment.
#pragma once

#include "core/CGroupData.h"
#include "core/CTablesView.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// One group's resolution: the records its access list names, in the list's order, a MAC that
// no record has being skipped.
struct CGroupRecords {
    std::vector<const CServerData*> records;
    // What they were resolved from: the table's set of records and the access list.
    uint64_t membership = 0;
    std::vector<std::u16string> access;
    // The last tables generation at which the access list was found equal: access lists change
    // only in holds that move the generation, so it need not be compared again at this one.
    mutable std::atomic<uint64_t> checkedAt{0};
};

class CAccessResolution {
public:
    // The records the group's access list names, resolved now unless the ones kept still hold.
    // Called under the shared guard, with the view the group was found in; the addresses are
    // good only until that hold ends.
    std::shared_ptr<const CGroupRecords>
    Records(const CTablesView& tables, const std::u16string& groupName, const CGroupData& group);

private:
    std::mutex m_mutex;
    std::unordered_map<std::u16string, std::shared_ptr<const CGroupRecords>> m_groups;
};
