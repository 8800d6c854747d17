// Saving and putting back the records of one directory operation.
#include "core/CDirectoryUndo.h"

namespace {

template <typename Saved, typename Table>
void Save(Saved& saved, const Table& table, const std::u16string& name) {
    if (!saved.names.insert(name).second) {
        return; // the state before the operation is already kept
    }
    const auto it = table.find(name);
    using Record = typename Table::mapped_type::element_type;
    saved.records.emplace_back(
        name, it == table.end() || !it->second ? nullptr : std::make_unique<Record>(*it->second));
}

template <typename Saved, typename Table>
void PutBack(Saved& saved, Table& table) {
    for (auto& [name, record] : saved.records) {
        if (record) {
            table[name] = std::move(record);
        } else {
            table.erase(name);
        }
    }
    saved.records.clear();
    saved.names.clear();
}

} // namespace

void CDirectoryUndo::SaveUser(const CUserTable& users, const std::u16string& name) {
    Save(m_users, users, name);
}

void CDirectoryUndo::SaveGroup(const CGroupTable& groups, const std::u16string& name) {
    Save(m_groups, groups, name);
}

void CDirectoryUndo::Restore(CUserTable& users, CGroupTable& groups) {
    PutBack(m_users, users);
    PutBack(m_groups, groups);
}

void CDirectoryUndo::Clear() {
    m_users.records.clear();
    m_users.names.clear();
    m_groups.records.clear();
    m_groups.names.clear();
}
