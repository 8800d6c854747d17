#include "core/CRegistryBatch.h"

#include "core/CArchiveWriter.h"
#include "core/CGroupData.h"
#include "core/CUserData.h"

void CRegistryBatch::Write(const CUserData& user) {
    m_changes.push_back({EKind::WriteUser, user.m_strName, CArchiveWriter::Body(user)});
}

void CRegistryBatch::Write(const CGroupData& group) {
    m_changes.push_back({EKind::WriteGroup, group.m_strName, CArchiveWriter::Body(group)});
}

void CRegistryBatch::Delete(const CUserData& user) {
    m_changes.push_back({EKind::DeleteUser, user.m_strName, {}});
}

void CRegistryBatch::Delete(const CGroupData& group) {
    m_changes.push_back({EKind::DeleteGroup, group.m_strName, {}});
}
