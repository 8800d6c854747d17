// Directory users' sign-in to the credential service; see DirectorySignIn.h.
#include "service/http/DirectorySignIn.h"

#include "platform/text/Base64.h"
#include "platform/text/TextConv.h"

#include <cstring>
#include <span>
#include <string>

namespace {

// No local user name holds a line feed, so no name can be a directory key.
constexpr char kKeyMark = '\n';

// The decoded "name:password" value, wiped where it was decoded when it goes.
class CDecodedCredentials {
public:
    explicit CDecodedCredentials(std::string_view encoded) : m_text(Base64Decode(encoded)) {}
    ~CDecodedCredentials() { ::explicit_bzero(m_text.data(), m_text.size()); }
    CDecodedCredentials(const CDecodedCredentials&) = delete;
    CDecodedCredentials& operator=(const CDecodedCredentials&) = delete;

    // Empty without a colon.
    std::span<const std::uint8_t> Password() const {
        const std::size_t colon = m_text.find(':');
        if (colon == std::string::npos) {
            return {};
        }
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(m_text.data());
        return {bytes + colon + 1, m_text.size() - colon - 1};
    }

private:
    std::string m_text;
};

// The cache is asked with the decoded bytes, wiped at once: pages mapped and locked for every
// "/Query" cost more than the rest of a cached sign-in, and their unmapping stalls every other
// thread of the process. Only a sign-in that goes to the directory, which holds the password for
// as long as the directory takes, copies it into locked memory.
SLdapUser SignIn(CLdapUsers& users, std::string_view userName, std::string_view encoded) {
    CSecretBytes password;
    {
        const CDecodedCredentials decoded(encoded);
        if (auto cached = users.Cached(userName, decoded.Password())) {
            return std::move(*cached);
        }
        password = CSecretBytes::CopyOf(decoded.Password());
    }
    return users.SignIn(userName, password.Bytes());
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
                        CDirectoryIdentity& identity, CMappedGroupsMemo& memo) {
    if (tables.users.contains(Utf8ToUtf16(userName))) {
        identity.mapped.clear();
        return false;
    }
    identity.mapped = memo.Mapped(tables.groups, tables.generation, identity.groups);
    return !identity.mapped.empty();
}

CDirectoryCheck CheckDirectoryUser(const CServiceContext& context, std::string_view encoded,
                                   std::string_view userName) {
    CDirectoryCheck check;
    SLdapUser user = SignIn(*context.m_pLdapUsers, userName, encoded);
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
        bMapped = MapDirectoryGroups(tables, userName, check.identity, context.m_mappedGroups);
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
