// A directory user: name, password in clear, and the names of its groups in the order they
// were added. The name is the key in the user table and the name of its registry value.
#pragma once

#include "core/CSerializable.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CUserData : public CSerializable {
public:
    static constexpr std::string_view kClassName = "CUserData";
    static constexpr uint16_t kSchema = 0;

    CUserData() = default;
    CUserData(std::u16string name, std::u16string password)
        : m_strName(std::move(name)), m_strPassword(std::move(password)) {}

    std::string_view GetRuntimeClass() const override { return kClassName; }
    uint16_t GetSchema() const override { return kSchema; }
    void Serialize(CArchiveWriter& ar) const override;
    bool Deserialize(CArchiveReader& ar) override;

    std::u16string m_strName;
    std::u16string m_strPassword;
    std::vector<std::u16string> m_listGroups;
};
