// Helpers for directory tests: a core over a store in a temporary directory, and a view of what
// the store holds, read through a separate connection.
#pragma once

#include "core/CArchiveReader.h"
#include "core/COrvaneSrvCore.h"
#include "platform/registry/CRegistryKey.h"
#include "tests/support/CTempDir.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

using CStoredValues = std::map<std::u16string, std::vector<uint8_t>>;

inline std::unique_ptr<COrvaneSrvCore> MakeCore(const std::filesystem::path& db) {
    return std::make_unique<COrvaneSrvCore>(std::make_unique<CRegistryHive>(db));
}

// Start-up as the program does it: load, then the built-in accounts.
inline std::unique_ptr<COrvaneSrvCore> StartCore(const std::filesystem::path& db) {
    auto core = MakeCore(db);
    core->LoadDirectory();
    core->CreateBuiltInAccounts();
    return core;
}

inline CStoredValues ReadValues(const std::filesystem::path& db, std::u16string_view keyPath) {
    CStoredValues values;
    CRegistryHive hive(db);
    CRegistryKey key;
    if (hive.OpenKey(keyPath, KEY_READ, key) != ERROR_SUCCESS) {
        return values;
    }
    std::u16string name;
    std::vector<uint8_t> data;
    for (uint32_t i = 0; key.EnumValue(i, name, data) == ERROR_SUCCESS; ++i) {
        values[name] = data;
    }
    return values;
}

template <typename Record>
inline Record Decode(const std::vector<uint8_t>& bytes) {
    Record r;
    CArchiveReader ar(bytes);
    r.Deserialize(ar);
    return r;
}

inline std::unique_ptr<CUserData> User(std::u16string name, std::u16string password,
                                       std::vector<std::u16string> groups = {}) {
    auto u = std::make_unique<CUserData>(std::move(name), std::move(password));
    u->m_listGroups = std::move(groups);
    return u;
}

inline std::unique_ptr<CGroupData> Group(std::u16string name,
                                         std::vector<std::u16string> users = {},
                                         std::vector<std::u16string> access = {},
                                         std::vector<std::u16string> directoryGroups = {}) {
    auto g = std::make_unique<CGroupData>(std::move(name));
    g->m_listUsers = std::move(users);
    g->m_listAccess = std::move(access);
    g->m_listDirectoryGroups = std::move(directoryGroups);
    return g;
}

using Names = std::vector<std::u16string>;
