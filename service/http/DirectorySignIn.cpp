// Directory users' sign-in to the credential service; see DirectorySignIn.h.
#include "service/http/DirectorySignIn.h"

#include "core/CDirectoryRules.h"
#include "platform/text/Base64.h"
#include "platform/text/TextConv.h"

#include <cstring>

namespace {

// No local user name holds a line feed, so no name can be a directory key.
constexpr char kKeyMark = '\n';

// The password part of the decoded value, wiped where it was decoded.
CSecretBytes PasswordOf(std::string_view encoded) {
    std::string decoded = Base64Decode(encoded);
    const std::size_t colon = decoded.find(':');
    CSecretBytes password;
    if (colon != std::string::npos) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(decoded.data());
        password = CSecretBytes::CopyOf({bytes + colon + 1, decoded.size() - colon - 1});
    }
    ::explicit_bzero(decoded.data(), decoded.size());
    return password;
}

EDirectoryCheck Classify(ELdapSignIn result) {
    switch (result) {
    case ELdapSignIn::Ok:
        return EDirectoryCheck::Accepted;
    case ELdapSignIn::Unavailable:
        return EDirectoryCheck::Unavailable;
    case ELdapSignIn::Refused:
        break;
    }
    return EDirectoryCheck::Refused;
}

} // namespace

bool MapDirectoryGroups(const CTablesView& tables, std::string_view userName,
                        CDirectoryIdentity& identity) {
    if (tables.users.contains(Utf8ToUtf16(userName))) {
        identity.mapped.clear();
        return false;
    }
    identity.mapped = CDirectoryRules::MappedGroups(tables.groups, identity.groups);
    return !identity.mapped.empty();
}

CDirectoryCheck CheckDirectoryUser(const CServiceContext& context, std::string_view encoded,
                                   std::string_view userName) {
    CDirectoryCheck check;
    const CSecretBytes password = PasswordOf(encoded);
    SLdapUser user = context.m_pLdapUsers->SignIn(userName, password.Bytes());
    check.news = std::move(user.news);
    check.bCached = user.bCached;
    check.reason = std::move(user.reason);
    check.result = Classify(user.result);
    if (check.result != EDirectoryCheck::Accepted) {
        return check;
    }
    check.identity.dn = std::move(user.dn);
    check.identity.groups = std::move(user.groups);
    bool bMapped = false;
    const bool bAlive = context.WithTablesSharedAt([&](const CTablesView& tables, uint64_t at) {
        bMapped = MapDirectoryGroups(tables, userName, check.identity);
        check.generation = at;
    });
    if (!bAlive) {
        check.result = EDirectoryCheck::TablesGone;
    } else if (!bMapped) {
        check.result = EDirectoryCheck::NotMapped;
        check.reason = "in no directory group that an OrvaneSrv group names";
    }
    return check;
}

std::string DirectoryCacheKey(const CDirectoryIdentity& identity) {
    std::string key(1, kKeyMark);
    for (const std::u16string& group : identity.mapped) {
        key += Utf16ToUtf8(group);
        key += kKeyMark;
    }
    return key;
}
