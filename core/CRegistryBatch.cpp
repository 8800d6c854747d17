#include "core/CRegistryBatch.h"

#include "core/CArchiveWriter.h"
#include "core/CGroupData.h"
#include "core/CUserData.h"

void CRegistryBatch::WriteUser(const CUserData& user) {
    m_changes.push_back({EKind::WriteUser, user.m_strName, CArchiveWriter::Body(user)});
}

void CRegistryBatch::WriteGroup(const CGroupData& group) {
    m_changes.push_back({EKind::WriteGroup, group.m_strName, CArchiveWriter::Body(group)});
}

void CRegistryBatch::DeleteUserValue(std::u16string name) {
    m_changes.push_back({EKind::DeleteUser, std::move(name), {}});
}

void CRegistryBatch::DeleteGroupValue(std::u16string name) {
    m_changes.push_back({EKind::DeleteGroup, std::move(name), {}});
}
