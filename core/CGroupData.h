// A directory group: name, member user names, the access list of storage server MAC address
// texts that its members may reach, and the site directory's groups (by DN) whose users are given
// this group's arrays.
#pragma once

#include "core/CSerializable.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CGroupData : public CSerializable {
public:
    static constexpr std::string_view kClassName = "CGroupData";
    // Schema 0 holds name, members and access list. Schema 1 adds the directory groups after
    // the access list; a group without any is still written at schema 0, byte for byte as
    // before, so that older copies read what this one writes unless a mapping needs the new
    // field.
    static constexpr uint16_t kDirectoryGroupsSchema = 1;
    // The newest schema this copy reads.
    static constexpr uint16_t kSchema = kDirectoryGroupsSchema;

    CGroupData() = default;
    explicit CGroupData(std::u16string name) : m_strName(std::move(name)) {}

    std::string_view GetRuntimeClass() const override { return kClassName; }
    uint16_t GetSchema() const override {
        return m_listDirectoryGroups.empty() ? 0 : kDirectoryGroupsSchema;
    }
    void Serialize(CArchiveWriter& ar) const override;
    bool Deserialize(CArchiveReader& ar) override;

    std::u16string m_strName;
    std::vector<std::u16string> m_listUsers;
    std::vector<std::u16string> m_listAccess;
    std::vector<std::u16string> m_listDirectoryGroups; // DNs, in the order given
};
