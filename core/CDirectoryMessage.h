// The seven directory operations as typed messages. Every change of the account directory is
// one of these, delivered synchronously to COrvaneSrvCore::SendMessage. A record carried by a
// message belongs to the receiver from delivery on; a name for a delete stays the sender's.
#pragma once

#include "core/CGroupData.h"
#include "core/CUserData.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

enum class EDirectoryMessage : uint32_t {
    UM_ADD_USER = 0x900,
    UM_MODIFY_USER = 0x901,
    UM_DELETE_USER = 0x902,
    UM_ADD_GROUP = 0xA00,
    UM_MODIFY_GROUP = 0xA01,
    UM_DELETE_GROUP = 0xA02,
    UM_SET_GROUP_ACCESS = 0xA03,
};

inline constexpr EDirectoryMessage UM_ADD_USER = EDirectoryMessage::UM_ADD_USER;
inline constexpr EDirectoryMessage UM_MODIFY_USER = EDirectoryMessage::UM_MODIFY_USER;
inline constexpr EDirectoryMessage UM_DELETE_USER = EDirectoryMessage::UM_DELETE_USER;
inline constexpr EDirectoryMessage UM_ADD_GROUP = EDirectoryMessage::UM_ADD_GROUP;
inline constexpr EDirectoryMessage UM_MODIFY_GROUP = EDirectoryMessage::UM_MODIFY_GROUP;
inline constexpr EDirectoryMessage UM_DELETE_GROUP = EDirectoryMessage::UM_DELETE_GROUP;
inline constexpr EDirectoryMessage UM_SET_GROUP_ACCESS = EDirectoryMessage::UM_SET_GROUP_ACCESS;

class CDirectoryMessage {
public:
    static CDirectoryMessage AddUser(bool bPersist, std::unique_ptr<CUserData> user) {
        return {UM_ADD_USER, bPersist, std::move(user)};
    }
    static CDirectoryMessage ModifyUser(bool bPersist, std::unique_ptr<CUserData> user) {
        return {UM_MODIFY_USER, bPersist, std::move(user)};
    }
    static CDirectoryMessage DeleteUser(bool bPersist, std::u16string name) {
        return {UM_DELETE_USER, bPersist, nullptr, nullptr, std::move(name)};
    }
    static CDirectoryMessage AddGroup(bool bPersist, std::unique_ptr<CGroupData> group) {
        return {UM_ADD_GROUP, bPersist, nullptr, std::move(group)};
    }
    static CDirectoryMessage ModifyGroup(bool bPersist, std::unique_ptr<CGroupData> group) {
        return {UM_MODIFY_GROUP, bPersist, nullptr, std::move(group)};
    }
    static CDirectoryMessage DeleteGroup(bool bPersist, std::u16string name) {
        return {UM_DELETE_GROUP, bPersist, nullptr, nullptr, std::move(name)};
    }
    static CDirectoryMessage SetGroupAccess(bool bPersist, std::unique_ptr<CGroupData> carrier) {
        return {UM_SET_GROUP_ACCESS, bPersist, nullptr, std::move(carrier)};
    }

    // Marks what an operator typed (a dialog, orvanectl): SendMessage then holds it to the
    // directory's rules for new names, passwords and "Everyone" (CDirectoryRules). Records read
    // back from the store keep what they have.
    CDirectoryMessage AsTypedInput() && {
        m_bTypedInput = true;
        return std::move(*this);
    }

    EDirectoryMessage m_id;
    bool m_bPersist = false;
    std::unique_ptr<CUserData> m_pUser;   // add and modify of a user
    std::unique_ptr<CGroupData> m_pGroup; // add and modify of a group, and the access carrier
    std::u16string m_strName;             // the deletes
    bool m_bTypedInput = false;

private:
    CDirectoryMessage(EDirectoryMessage id, bool bPersist, std::unique_ptr<CUserData> user,
                      std::unique_ptr<CGroupData> group = nullptr, std::u16string name = {})
        : m_id(id), m_bPersist(bPersist), m_pUser(std::move(user)), m_pGroup(std::move(group)),
          m_strName(std::move(name)) {}
};
