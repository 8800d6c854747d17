#include "core/CDirectoryMessage.h"

CDirectoryMessage CDirectoryMessage::AddUser(bool bPersist, std::unique_ptr<CUserData> user) {
    CDirectoryMessage msg(UM_ADD_USER, bPersist);
    msg.m_pUser = std::move(user);
    return msg;
}

CDirectoryMessage CDirectoryMessage::ModifyUser(bool bPersist, std::unique_ptr<CUserData> user) {
    CDirectoryMessage msg(UM_MODIFY_USER, bPersist);
    msg.m_pUser = std::move(user);
    return msg;
}

CDirectoryMessage CDirectoryMessage::DeleteUser(bool bPersist, std::u16string name) {
    CDirectoryMessage msg(UM_DELETE_USER, bPersist);
    msg.m_strName = std::move(name);
    return msg;
}

CDirectoryMessage CDirectoryMessage::AddGroup(bool bPersist, std::unique_ptr<CGroupData> group) {
    CDirectoryMessage msg(UM_ADD_GROUP, bPersist);
    msg.m_pGroup = std::move(group);
    return msg;
}

CDirectoryMessage CDirectoryMessage::ModifyGroup(bool bPersist, std::unique_ptr<CGroupData> group) {
    CDirectoryMessage msg(UM_MODIFY_GROUP, bPersist);
    msg.m_pGroup = std::move(group);
    return msg;
}

CDirectoryMessage CDirectoryMessage::DeleteGroup(bool bPersist, std::u16string name) {
    CDirectoryMessage msg(UM_DELETE_GROUP, bPersist);
    msg.m_strName = std::move(name);
    return msg;
}

CDirectoryMessage CDirectoryMessage::SetGroupAccess(bool bPersist,
                                                    std::unique_ptr<CGroupData> carrier) {
    CDirectoryMessage msg(UM_SET_GROUP_ACCESS, bPersist);
    msg.m_pGroup = std::move(carrier);
    return msg;
}
