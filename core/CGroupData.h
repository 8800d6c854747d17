// A directory group: name, member user names, and the access list of storage server MAC
// address texts that its members may reach.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CArchiveReader;
class CArchiveWriter;

class CGroupData {
public:
    static constexpr std::string_view kClassName = "CGroupData";
    static constexpr uint16_t kSchema = 0;

    CGroupData() = default;
    explicit CGroupData(std::u16string name) : m_strName(std::move(name)) {}
    virtual ~CGroupData() = default;

    virtual std::string_view GetRuntimeClass() const { return kClassName; }
    virtual void Serialize(CArchiveWriter& ar) const;
    virtual bool Deserialize(CArchiveReader& ar);

    std::u16string m_strName;
    std::vector<std::u16string> m_listUsers;
    std::vector<std::u16string> m_listAccess;
};
