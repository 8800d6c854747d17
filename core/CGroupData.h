// A directory group: name, member user names, and the access list of storage server MAC
// address texts that its members may reach.
#pragma once

#include "core/CSerializable.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CGroupData : public CSerializable {
public:
    static constexpr std::string_view kClassName = "CGroupData";
    static constexpr uint16_t kSchema = 0;

    CGroupData() = default;
    explicit CGroupData(std::u16string name) : m_strName(std::move(name)) {}

    std::string_view GetRuntimeClass() const override { return kClassName; }
    uint16_t GetSchema() const override { return kSchema; }
    void Serialize(CArchiveWriter& ar) const override;
    bool Deserialize(CArchiveReader& ar) override;

    std::u16string m_strName;
    std::vector<std::u16string> m_listUsers;
    std::vector<std::u16string> m_listAccess;
};
