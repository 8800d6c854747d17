// An open registry key: a handle to one key of a CRegistryHive, with the access it was opened
// with. Closed when destroyed. Enumeration reads a snapshot of the key's values when index 0 is
// asked for, so that visiting index 0, 1, 2, ... is linear.
#pragma once

#include "platform/registry/RegistryTypes.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CRegistryHive;

class CRegistryKey {
public:
    CRegistryKey() = default;
    ~CRegistryKey() = default;
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    bool IsOpen() const { return m_pHive != nullptr; }

    // Values in a stable order (the order they were first created); ERROR_NO_MORE_ITEMS past
    // the last one. Needs read access.
    LSTATUS EnumValue(uint32_t index, std::u16string& name, std::vector<uint8_t>& data,
                      uint32_t* type = nullptr);
    // Creates or replaces a value. Needs set-value access.
    LSTATUS SetValue(std::u16string_view name, uint32_t type, std::span<const uint8_t> data);
    LSTATUS DeleteValue(std::u16string_view name);
    // Every write is durable when it returns, so a flush has nothing left to do.
    LSTATUS Flush();
    void Close();

private:
    friend class CRegistryHive;
    struct Value {
        std::u16string name;
        uint32_t type;
        std::vector<uint8_t> data;
    };

    CRegistryHive* m_pHive = nullptr;
    int64_t m_nKeyId = 0;
    REGSAM m_access = 0;
    std::vector<Value> m_snapshot;
    bool m_bHaveSnapshot = false;
};
