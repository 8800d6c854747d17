#include "core/CRegistryStore.h"

#include "core/CArchiveWriter.h"
#include "core/CGroupData.h"
#include "core/CUserData.h"
#include "platform/registry/CRegistryKey.h"

#include <cstdio>
#include <string>

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
    for (uint32_t index = 0;; ++index) {
        const LSTATUS st = key.EnumValue(index, name, data);
        if (st == ERROR_NO_MORE_ITEMS) {
            return true;
        }
        if (st != ERROR_SUCCESS) {
            m_lLastError = st;
            return false;
        }
        visit(name, data);
    }
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
    m_lLastError = m_pHive->OpenKey(keyPath, KEY_SET_VALUE, key);
    if (m_lLastError != ERROR_SUCCESS) {
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

std::string CRegistryStore::LastFailureText() const {
    std::string detail = m_pHive->LastErrorText();
    if (detail.empty()) {
        detail = "error " + std::to_string(m_lLastError);
    }
    return detail;
}

bool CRegistryStore::Abandon(const char* why) {
    const std::string line =
        "OrvaneSrv: a directory change was not saved; nothing was written to " +
        m_pHive->Path().string() + ": " + why + ": " + LastFailureText() + "\n";
    std::fputs(line.c_str(), stderr);
    return false;
}

bool CRegistryStore::Apply(const CRegistryBatch& batch) {
    if (batch.Empty()) {
        return true;
    }
    // All or nothing: a batch holds both sides of the memberships that one operation changed,
    // so it is never written change by change outside a transaction.
    if (const LSTATUS st = m_pHive->Begin(); st != ERROR_SUCCESS) {
        m_lLastError = st;
        return Abandon(st == ERROR_LOCK_VIOLATION ? "the store stayed locked by another process"
                                                  : "the transaction could not begin");
    }
    for (const auto& change : batch.Changes()) {
        if (!ApplyChange(change)) {
            const LSTATUS failure = m_lLastError;
            m_pHive->Rollback();
            m_lLastError = failure;
            return Abandon("a change failed");
        }
    }
    if (const LSTATUS st = m_pHive->Commit(); st != ERROR_SUCCESS) {
        m_lLastError = st;
        return Abandon("the transaction could not be committed");
    }
    return true;
}

bool CRegistryStore::ApplyChange(const CRegistryBatch::Change& change) {
    switch (change.kind) {
    case CRegistryBatch::EKind::WriteUser:
        return WriteValue(kUserKey, change.name, change.body);
    case CRegistryBatch::EKind::WriteGroup:
        return WriteValue(kGroupKey, change.name, change.body);
    case CRegistryBatch::EKind::DeleteUser:
        return DeleteValue(kUserKey, change.name) || m_lLastError == ERROR_FILE_NOT_FOUND;
    case CRegistryBatch::EKind::DeleteGroup:
        return DeleteValue(kGroupKey, change.name) || m_lLastError == ERROR_FILE_NOT_FOUND;
    }
    return false;
}
