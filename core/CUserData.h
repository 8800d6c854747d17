// A directory user: name, password in clear, and the names of its groups in the order they
// were added. The name is the key in the user table and the name of its registry value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CArchiveReader;
class CArchiveWriter;

class CUserData {
public:
    static constexpr std::string_view kClassName = "CUserData";
    static constexpr uint16_t kSchema = 0;

    CUserData() = default;
    CUserData(std::u16string name, std::u16string password)
        : m_strName(std::move(name)), m_strPassword(std::move(password)) {}
    virtual ~CUserData() = default;

    virtual std::string_view GetRuntimeClass() const { return kClassName; }
    // Writes or reads the record body; reading fills a default-constructed record and answers
    // false on the reader's first error (the reader keeps the error kind).
    virtual void Serialize(CArchiveWriter& ar) const;
    virtual bool Deserialize(CArchiveReader& ar);

    std::u16string m_strName;
    std::u16string m_strPassword;
    std::vector<std::u16string> m_listGroups;
};
