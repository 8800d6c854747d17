// The access-list entries that no listed storage server carries: they get placeholder rows in the
// Account tab's server list and in the group access dialog, so that an entry whose server has
// not been found (or is not offered) stays in view and can be kept or dropped.
#pragma once

#include <span>
#include <string>
#include <unordered_set>
#include <vector>

// The entries of access, in list order, whose text is none of rowMacs; an entry that stands
// twice is answered once, as its first placeholder row then carries it.
std::vector<std::u16string> UnmatchedAccess(std::span<const std::u16string> access,
                                            std::unordered_set<std::u16string> rowMacs);
