#include "core/CGroupData.h"

#include "core/CArchiveReader.h"
#include "core/CArchiveWriter.h"

void CGroupData::Serialize(CArchiveWriter& ar) const {
    ar.WriteText(m_strName);
    ar.WriteTextList(m_listUsers);
    ar.WriteTextList(m_listAccess);
    if (ar.WritesSchema(*this, kDirectoryGroupsSchema)) {
        ar.WriteTextList(m_listDirectoryGroups);
    }
}

bool CGroupData::Deserialize(CArchiveReader& ar) {
    if (!ar.ReadText(m_strName) || !ar.ReadTextList(m_listUsers) ||
        !ar.ReadTextList(m_listAccess)) {
        return false;
    }
    return !ar.ReadsSchema(kDirectoryGroupsSchema) || ar.ReadTextList(m_listDirectoryGroups);
}
