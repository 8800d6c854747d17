// The OrvaneSrv groups that a directory user's groups give (CDirectoryRules::MappedGroups), kept
// for the tables' generation they were mapped in: a "/Query" by a directory user then costs a
// lookup instead of a pass over every group and every DN that names one, and users of the same
// directory groups share one entry. A new generation starts the memo afresh, so a change of a
// group's DNs shows at once. Generations are one core's: one memo per run of the service.
// Thread-safe.
#pragma once

#include "core/CDirectoryUndo.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

class CMappedGroupsMemo {
public:
    // Sets of directory groups kept for one generation; past it the memo starts again.
    static constexpr std::size_t kMaxSets = 4096;

    // What CDirectoryRules::MappedGroups answers for these groups. Called under the shared guard,
    // with the table and generation of the same view.
    std::vector<std::u16string> Mapped(const CGroupTable& groups, uint64_t generation,
                                       std::span<const std::string> directoryGroups);

private:
    // Lookups share it, as every cached "/Query" of a directory user takes it.
    std::shared_mutex m_mutex;
    uint64_t m_generation = 0;
    // By the DNs in the order given, each after its length, so that no two lists share a key.
    std::unordered_map<std::string, std::vector<std::u16string>> m_sets;
};
