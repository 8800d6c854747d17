// The records one directory operation is about to change, as they were before it, so that an
// operation whose registry write fails can be taken back in memory as well: the tables then hold
// what the store holds. Each record is saved once, the first time the operation touches it.
#pragma once

#include "core/CGroupData.h"
#include "core/CUserData.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

using CUserTable = std::unordered_map<std::u16string, std::unique_ptr<CUserData>>;
using CGroupTable = std::unordered_map<std::u16string, std::unique_ptr<CGroupData>>;

class CDirectoryUndo {
public:
    // Before the named record of the table changes (or appears, or goes).
    void SaveUser(const CUserTable& users, const std::u16string& name);
    void SaveGroup(const CGroupTable& groups, const std::u16string& name);

    // Puts every saved record back as it was (removing those that did not exist) and forgets
    // them; under the same exclusive guard as the change.
    void Restore(CUserTable& users, CGroupTable& groups);
    // The operation's change stands.
    void Clear();

private:
    template <typename Record>
    struct CSaved {
        std::unordered_set<std::u16string> names;
        // Null: no record of that name existed.
        std::vector<std::pair<std::u16string, std::unique_ptr<Record>>> records;
    };

    CSaved<CUserData> m_users;
    CSaved<CGroupData> m_groups;
};
