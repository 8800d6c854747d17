#include "platform/registry/CRegistryKey.h"

#include "platform/registry/CRegistryHive.h"

#include <sqlite3.h>

namespace {

std::u16string NameFromBytes(const std::vector<uint8_t>& bytes) {
    std::u16string name(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < name.size(); ++i) {
        name[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return name;
}

// Value names are stored as their UTF-16 code units, little-endian, so that they compare
// exactly and keep unpaired surrogates.
std::vector<uint8_t> NameToBytes(std::u16string_view name) {
    std::vector<uint8_t> bytes;
    bytes.reserve(name.size() * 2);
    for (const char16_t c : name) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

} // namespace

LSTATUS CRegistryKey::EnumValue(uint32_t index, std::u16string& name, std::vector<uint8_t>& data,
                                uint32_t* type) {
    if (m_pHive == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((m_access & KEY_QUERY_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    if (index == 0 || !m_bHaveSnapshot) {
        m_snapshot.clear();
        CSqliteStatement& st = m_pHive->m_enumValues;
        st.BindInt(1, m_nKeyId);
        int rc;
        while ((rc = st.Step()) == SQLITE_ROW) {
            m_snapshot.push_back({NameFromBytes(st.ColumnBlob(0)),
                                  static_cast<uint32_t>(st.ColumnInt(1)), st.ColumnBlob(2)});
        }
        st.Reset();
        if (rc != SQLITE_DONE) {
            m_snapshot.clear();
            return m_pHive->Result(rc);
        }
        m_bHaveSnapshot = true;
    }
    if (index >= m_snapshot.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    name = m_snapshot[index].name;
    data = m_snapshot[index].data;
    if (type != nullptr) {
        *type = m_snapshot[index].type;
    }
    return ERROR_SUCCESS;
}

LSTATUS CRegistryKey::SetValue(std::u16string_view name, uint32_t type,
                               std::span<const uint8_t> data) {
    if (m_pHive == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((m_access & KEY_SET_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    const std::vector<uint8_t> nameBytes = NameToBytes(name);
    CSqliteStatement& st = m_pHive->m_upsertValue;
    st.BindInt(1, m_nKeyId);
    st.BindBlob(2, nameBytes);
    st.BindInt(3, type);
    st.BindBlob(4, data);
    const int rc = st.Step();
    st.Reset();
    m_bHaveSnapshot = false;
    return m_pHive->Result(rc);
}

LSTATUS CRegistryKey::DeleteValue(std::u16string_view name) {
    if (m_pHive == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((m_access & KEY_SET_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    const std::vector<uint8_t> nameBytes = NameToBytes(name);
    CSqliteStatement& st = m_pHive->m_deleteValue;
    st.BindInt(1, m_nKeyId);
    st.BindBlob(2, nameBytes);
    const int rc = st.Step();
    st.Reset();
    m_bHaveSnapshot = false;
    if (rc != SQLITE_DONE) {
        return m_pHive->Result(rc);
    }
    return sqlite3_changes(m_pHive->m_db) > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS CRegistryKey::Flush() {
    return m_pHive == nullptr ? ERROR_INVALID_PARAMETER : 0;
}

void CRegistryKey::Close() {
    m_pHive = nullptr;
    m_nKeyId = 0;
    m_access = 0;
    m_snapshot.clear();
    m_bHaveSnapshot = false;
}
