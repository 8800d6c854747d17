// The audit records of directory changes; see DirectoryAudit.h.
#include "core/audit/DirectoryAudit.h"

#include "platform/text/TextConv.h"

namespace {

// Names joined with commas, as the trail lists them. DNs are joined with "; ": they hold commas,
// and a DN written by the directory's rules escapes every ';' in its values.
constexpr std::string_view kDnSeparator = "; ";

std::string JoinNames(const std::vector<std::u16string>& names, std::string_view separator = ",") {
    std::string joined;
    for (const std::u16string& name : names) {
        joined += joined.empty() ? std::string_view() : separator;
        joined += Utf16ToUtf8(name);
    }
    return joined;
}

} // namespace

std::optional<CAuditRecord> DirectoryChangeRecord(const CDirectoryMessage& msg,
                                                  const CUserTable& users,
                                                  std::string_view source) {
    if (!msg.m_bPersist) {
        return std::nullopt;
    }
    switch (msg.m_id) {
    case UM_ADD_USER:
    case UM_MODIFY_USER: {
        if (!msg.m_pUser) {
            return std::nullopt;
        }
        const bool bAdd = msg.m_id == UM_ADD_USER;
        CAuditRecord record(bAdd ? "user-add" : "user-change", source);
        record.Add("user", Utf16ToUtf8(msg.m_pUser->m_strName))
            .Add("groups", JoinNames(msg.m_pUser->m_listGroups));
        if (!bAdd) {
            const auto it = users.find(msg.m_pUser->m_strName);
            const bool bChanged = it == users.end() || !it->second ||
                                  it->second->m_strPassword != msg.m_pUser->m_strPassword;
            record.AddBool("password_changed", bChanged);
        }
        return record;
    }
    case UM_DELETE_USER: {
        CAuditRecord record("user-delete", source);
        record.Add("user", Utf16ToUtf8(msg.m_strName));
        return record;
    }
    case UM_ADD_GROUP:
    case UM_MODIFY_GROUP: {
        if (!msg.m_pGroup) {
            return std::nullopt;
        }
        CAuditRecord record(msg.m_id == UM_ADD_GROUP ? "group-add" : "group-change", source);
        record.Add("group", Utf16ToUtf8(msg.m_pGroup->m_strName))
            .Add("members", JoinNames(msg.m_pGroup->m_listUsers));
        // A group without directory groups keeps the record it always had.
        if (!msg.m_pGroup->m_listDirectoryGroups.empty()) {
            record.Add("directoryGroups",
                       JoinNames(msg.m_pGroup->m_listDirectoryGroups, kDnSeparator));
        }
        return record;
    }
    case UM_DELETE_GROUP: {
        CAuditRecord record("group-delete", source);
        record.Add("group", Utf16ToUtf8(msg.m_strName));
        return record;
    }
    case UM_SET_GROUP_ACCESS: {
        if (!msg.m_pGroup) {
            return std::nullopt;
        }
        CAuditRecord record("group-access", source);
        record.Add("group", Utf16ToUtf8(msg.m_pGroup->m_strName))
            .Add("macs", JoinNames(msg.m_pGroup->m_listAccess));
        return record;
    }
    }
    return std::nullopt;
}
