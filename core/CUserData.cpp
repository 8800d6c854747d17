#include "core/CUserData.h"

#include "core/CArchiveReader.h"
#include "core/CArchiveWriter.h"

void CUserData::Serialize(CArchiveWriter& ar) const {
    ar.WriteText(m_strName);
    ar.WriteText(m_strPassword);
    ar.WriteTextList(m_listGroups);
}

bool CUserData::Deserialize(CArchiveReader& ar) {
    return ar.ReadText(m_strName) && ar.ReadText(m_strPassword) && ar.ReadTextList(m_listGroups);
}
