// The directory's rules over the tables' records.
#include "core/CDirectoryRules.h"

#include "platform/text/NameText.h"
#include "platform/text/TextConv.h"
#include "platform/text/TextEscape.h"
#include "storage/IsSupportedProduct.h"

#include <algorithm>
#include <unordered_set>

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

CRefusal CDirectoryRules::CheckDirectoryGroups(std::span<const std::u16string> dns) {
    for (const std::u16string& dn : dns) {
        if (const EDnFault fault = CheckDirectoryGroupDn(dn); fault != EDnFault::None) {
            return {ERefusal::DirectoryGroup, ERecordKind::Group, dn, fault};
        }
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
    case UM_MODIFY_GROUP:
        if (msg.m_bTypedInput && msg.m_pGroup) {
            if (msg.m_id == UM_ADD_GROUP) {
                if (CRefusal refusal = CheckNewName(groups, msg.m_pGroup->m_strName)) {
                    return refusal;
                }
            }
            return CheckDirectoryGroups(msg.m_pGroup->m_listDirectoryGroups);
        }
        break;
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

namespace {

constexpr char16_t kEscape = u'\\';

bool IsAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool IsAsciiDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

std::u16string_view TrimBlanks(std::u16string_view text) {
    while (!text.empty() && text.front() == u' ') {
        text.remove_prefix(1);
    }
    // An escaped blank at the end belongs to the value.
    while (text.size() > 1 && text.back() == u' ' && text[text.size() - 2] != kEscape) {
        text.remove_suffix(1);
    }
    return text;
}

// A name (a letter, then letters, digits and '-') or a dotted number.
bool IsAttributeType(std::u16string_view type) {
    if (type.empty()) {
        return false;
    }
    if (IsAsciiLetter(type.front())) {
        return std::ranges::all_of(
            type, [](char16_t c) { return IsAsciiLetter(c) || IsAsciiDigit(c) || c == u'-'; });
    }
    bool bDigitBefore = false;
    for (const char16_t c : type) {
        if (c == u'.' && bDigitBefore) {
            bDigitBefore = false;
        } else if (IsAsciiDigit(c)) {
            bDigitBefore = true;
        } else {
            return false;
        }
    }
    return bDigitBefore;
}

bool IsAttributeValuePair(std::u16string_view part) {
    const std::size_t equals = part.find(u'=');
    if (equals == std::u16string_view::npos) {
        return false;
    }
    return IsAttributeType(TrimBlanks(part.substr(0, equals))) &&
           !TrimBlanks(part.substr(equals + 1)).empty();
}

} // namespace

EDnFault CDirectoryRules::CheckDirectoryGroupDn(std::u16string_view dn) {
    if (dn.empty()) {
        return EDnFault::Empty;
    }
    if (dn.size() > kMaxDnLength) {
        return EDnFault::TooLong;
    }
    if (std::ranges::any_of(dn, [](char16_t c) { return IsEscapedInLog(c); })) {
        return EDnFault::ControlCharacter;
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i <= dn.size(); ++i) {
        if (i < dn.size() && dn[i] == kEscape) {
            if (++i == dn.size()) {
                return EDnFault::NotAttributeValue; // an escape with nothing to escape
            }
            continue;
        }
        if (i == dn.size() || dn[i] == u',' || dn[i] == u'+') {
            if (!IsAttributeValuePair(dn.substr(start, i - start))) {
                return EDnFault::NotAttributeValue;
            }
            start = i + 1;
        }
    }
    return EDnFault::None;
}

std::string CDirectoryRules::DirectoryGroupKey(std::string_view dn) {
    constexpr char kCaseBit = 'a' - 'A';
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c + kCaseBit) : c;
    };
    std::string key;
    key.reserve(dn.size());
    std::size_t kept = 0; // what dropping trailing blanks may not cut: separators, escapes
    const auto dropBlanks = [&] {
        while (key.size() > kept && key.back() == ' ') {
            key.pop_back();
        }
    };
    bool bAfterSeparator = true;
    for (std::size_t i = 0; i < dn.size(); ++i) {
        const char c = dn[i];
        if (c == '\\' && i + 1 < dn.size()) {
            key += c;
            key += lower(dn[++i]);
            kept = key.size();
            bAfterSeparator = false;
        } else if (c == ',' || c == '=' || c == '+') {
            dropBlanks();
            key += c;
            kept = key.size();
            bAfterSeparator = true;
        } else if (c != ' ' || !bAfterSeparator) {
            key += lower(c);
            bAfterSeparator = false;
        }
    }
    dropBlanks();
    return key;
}

std::vector<std::u16string>
CDirectoryRules::MappedGroups(const CGroupTable& groups,
                              std::span<const std::string> directoryGroupDns) {
    std::unordered_set<std::string> keys;
    for (const std::string& dn : directoryGroupDns) {
        keys.insert(DirectoryGroupKey(dn));
    }
    std::vector<std::u16string> names;
    for (const auto& [name, group] : groups) {
        const bool bMapped =
            std::ranges::any_of(group->m_listDirectoryGroups, [&](const std::u16string& dn) {
                return keys.contains(DirectoryGroupKey(Utf16ToUtf8(dn)));
            });
        if (bMapped) {
            names.push_back(name);
        }
    }
    if (!names.empty()) {
        names.emplace_back(kEveryoneGroup);
    }
    std::ranges::sort(names);
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}
