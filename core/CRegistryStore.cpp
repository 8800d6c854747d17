#include "core/CRegistryStore.h"

#include "core/CArchiveWriter.h"
#include "core/CGroupData.h"
#include "core/CUserData.h"
#include "platform/registry/CRegistryKey.h"

CRegistryStore::CRegistryStore(std::unique_ptr<CRegistryHive> hive) : m_pHive(std::move(hive)) {}

bool CRegistryStore::KeyExists(std::u16string_view path) {
    if (path.starts_with(u'\\')) {
        return false;
    }
    CRegistryKey key;
    m_lLastError = m_pHive->OpenKey(path, KEY_ALL_ACCESS, key);
    return m_lLastError == ERROR_SUCCESS;
}

bool CRegistryStore::CreateKey(std::u16string_view path) {
    if (path.starts_with(u'\\')) {
        return false;
    }
    CRegistryKey key;
    m_lLastError = m_pHive->CreateKey(path, KEY_ALL_ACCESS, key);
    if (m_lLastError != ERROR_SUCCESS) {
        return false;
    }
    if (!m_bLazyWrite) {
        key.Flush();
    }
    return true;
}

bool CRegistryStore::LoadValues(std::u16string_view keyPath, const ValueVisitor& visit) {
    CRegistryKey key;
    m_lLastError = m_pHive->OpenKey(keyPath, KEY_READ, key);
    if (m_lLastError != ERROR_SUCCESS) {
        return true;
    }
    std::u16string name;
    std::vector<uint8_t> data;
    // Values of any name length and size load in full: the writer produces them.
    for (uint32_t index = 0; key.EnumValue(index, name, data) == ERROR_SUCCESS; ++index) {
        visit(name, data);
    }
    return true;
}

bool CRegistryStore::WriteValue(std::u16string_view keyPath, std::u16string_view name,
                                const std::vector<uint8_t>& body) {
    CRegistryKey key;
    m_lLastError = m_pHive->OpenKey(keyPath, KEY_WRITE, key);
    if (m_lLastError != ERROR_SUCCESS) {
        return false;
    }
    m_lLastError = key.SetValue(name, REG_BINARY, body);
    if (!m_bLazyWrite) {
        key.Flush();
    }
    return m_lLastError == ERROR_SUCCESS;
}

bool CRegistryStore::DeleteValue(std::u16string_view keyPath, std::u16string_view name) {
    CRegistryKey key;
    if (m_pHive->OpenKey(keyPath, KEY_SET_VALUE, key) != ERROR_SUCCESS) {
        return false;
    }
    m_lLastError = key.DeleteValue(name);
    return m_lLastError == ERROR_SUCCESS;
}

bool CRegistryStore::WriteUser(const CUserData& user) {
    return WriteValue(kUserKey, user.m_strName, CArchiveWriter::Body(user));
}

bool CRegistryStore::WriteGroup(const CGroupData& group) {
    return WriteValue(kGroupKey, group.m_strName, CArchiveWriter::Body(group));
}

bool CRegistryStore::DeleteUserValue(std::u16string_view name) {
    return DeleteValue(kUserKey, name);
}

bool CRegistryStore::DeleteGroupValue(std::u16string_view name) {
    return DeleteValue(kGroupKey, name);
}

void CRegistryStore::Apply(const CRegistryBatch& batch) {
    if (batch.Empty()) {
        return;
    }
    // All or nothing: a batch holds both sides of the memberships that one operation changed.
    const bool bTransaction = m_pHive->Begin() == ERROR_SUCCESS;
    bool bFailed = false;
    for (const auto& change : batch.Changes()) {
        ApplyChange(change);
        bFailed =
            bFailed || (m_lLastError != ERROR_SUCCESS && m_lLastError != ERROR_FILE_NOT_FOUND);
    }
    if (!bTransaction) {
        return;
    }
    if (bFailed) {
        const LSTATUS failure = m_lLastError;
        m_pHive->Rollback();
        m_lLastError = failure;
    } else if (const LSTATUS st = m_pHive->Commit(); st != ERROR_SUCCESS) {
        m_lLastError = st;
    }
}

void CRegistryStore::ApplyChange(const CRegistryBatch::Change& change) {
    switch (change.kind) {
    case CRegistryBatch::EKind::WriteUser:
        WriteValue(kUserKey, change.name, change.body);
        break;
    case CRegistryBatch::EKind::WriteGroup:
        WriteValue(kGroupKey, change.name, change.body);
        break;
    case CRegistryBatch::EKind::DeleteUser:
        DeleteValue(kUserKey, change.name);
        break;
    case CRegistryBatch::EKind::DeleteGroup:
        DeleteValue(kGroupKey, change.name);
        break;
    }
}
