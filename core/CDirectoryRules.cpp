// The directory's rules over the tables' records.
#include "core/CDirectoryRules.h"

#include "platform/text/NameText.h"
#include "storage/IsSupportedProduct.h"

#include <algorithm>

namespace {

template <typename Table>
CRefusal CheckName(ERecordKind kind, const Table& table, std::u16string_view name) {
    if (IsBlankText(name)) {
        return {ERefusal::BlankName, kind, {}};
    }
    // HTTP Basic credentials end the user name at the first colon.
    if (kind == ERecordKind::User && name.find(u':') != std::u16string_view::npos) {
        return {ERefusal::ColonInName, kind, {}};
    }
    if (table.contains(std::u16string(name))) {
        return {ERefusal::NameTaken, kind, {}};
    }
    for (const auto& entry : table) {
        if (DifferInCaseOnly(entry.first, name)) {
            return {ERefusal::CaseTwin, kind, entry.first};
        }
    }
    return {};
}

} // namespace

CRefusal CDirectoryRules::CheckNewName(const CUserTable& users, std::u16string_view name) {
    return CheckName(ERecordKind::User, users, name);
}

CRefusal CDirectoryRules::CheckNewName(const CGroupTable& groups, std::u16string_view name) {
    return CheckName(ERecordKind::Group, groups, name);
}

CRefusal CDirectoryRules::CheckUser(const CUserTable& users, const CUserData& user, bool bNew) {
    if (bNew) {
        if (CRefusal refusal = CheckNewName(users, user.m_strName)) {
            return refusal;
        }
    }
    if (user.m_strPassword.empty()) {
        return {ERefusal::EmptyPassword, ERecordKind::User, {}};
    }
    if (std::ranges::find(user.m_listGroups, kEveryoneGroup) == user.m_listGroups.end()) {
        return {ERefusal::OutsideEveryone, ERecordKind::User, std::u16string(kEveryoneGroup)};
    }
    return {};
}

CRefusal CDirectoryRules::CheckDelete(ERecordKind kind, std::u16string_view name) {
    const bool bBuiltIn = kind == ERecordKind::User
                              ? name == kAdminUser
                              : std::ranges::find(kBuiltInGroups, name) != kBuiltInGroups.end();
    if (!bBuiltIn) {
        return {};
    }
    return {ERefusal::BuiltIn, kind, std::u16string(name)};
}

CRefusal CDirectoryRules::CheckMessage(const CDirectoryMessage& msg, const CUserTable& users,
                                       const CGroupTable& groups) {
    switch (msg.m_id) {
    case UM_DELETE_USER:
        return CheckDelete(ERecordKind::User, msg.m_strName);
    case UM_DELETE_GROUP:
        return CheckDelete(ERecordKind::Group, msg.m_strName);
    case UM_ADD_USER:
    case UM_MODIFY_USER:
        if (msg.m_bTypedInput && msg.m_pUser) {
            // A modify of a user that is not there adds one.
            const bool bNew = msg.m_id == UM_ADD_USER || !users.contains(msg.m_pUser->m_strName);
            return CheckUser(users, *msg.m_pUser, bNew);
        }
        break;
    case UM_ADD_GROUP:
        if (msg.m_bTypedInput && msg.m_pGroup) {
            return CheckNewName(groups, msg.m_pGroup->m_strName);
        }
        break;
    case UM_MODIFY_GROUP:
    case UM_SET_GROUP_ACCESS:
        break;
    }
    return {};
}

void CDirectoryRules::JoinEveryone(std::vector<std::u16string>& groups) {
    std::erase(groups, kEveryoneGroup);
    groups.emplace_back(kEveryoneGroup);
}

bool CDirectoryRules::TakesLogin(std::u16string_view mac, const CServerData* record) {
    return record != nullptr && !mac.empty() && IsSupportedProduct(*record);
}

