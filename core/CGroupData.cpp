#include "core/CGroupData.h"

#include "core/CArchiveReader.h"
#include "core/CArchiveWriter.h"

void CGroupData::Serialize(CArchiveWriter& ar) const {
    ar.WriteText(m_strName);
    ar.WriteTextList(m_listUsers);
    ar.WriteTextList(m_listAccess);
}

bool CGroupData::Deserialize(CArchiveReader& ar) {
    return ar.ReadText(m_strName) && ar.ReadTextList(m_listUsers) && ar.ReadTextList(m_listAccess);
}
