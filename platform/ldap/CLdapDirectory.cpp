// Sign-in through the directory; see CLdapDirectory.h.
#include "platform/ldap/CLdapDirectory.h"

#include "platform/ldap/LdapEscape.h"

namespace {

// Two, so that a filter matching several entries is told from one matching a single user.
constexpr int kUserSizeLimit = 2;
constexpr int kGroupSizeLimit = 1000;
// Asks the server for no attributes, only the entries' DNs.
constexpr std::string_view kNoAttributes = "1.1";

} // namespace

CLdapDirectory::CLdapDirectory(SLdapOptions connection, SLdapDirectoryOptions directory)
    : m_directory(std::move(directory)), m_pool(std::move(connection), m_directory.poolSize) {}

SLdapSignIn CLdapDirectory::SignIn(std::string_view user, std::span<const std::uint8_t> password) {
    if (password.empty()) {
        return {{ELdapOutcome::InvalidCredentials, "an empty password is refused"}, {}, {}};
    }
    if (user.empty()) {
        return {{ELdapOutcome::NoSuchUser, "an empty user name is refused"}, {}, {}};
    }
    // A pooled connection may have been closed by the server since its last use: one more try on
    // a fresh connection tells that from a server that is really gone.
    constexpr int kTries = 2;
    SLdapSignIn outcome;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        CLdapPool::CLease lease = m_pool.Borrow();
        if (!lease) {
            return {lease.Result(), {}, {}};
        }
        outcome = SignInOnce(*lease.operator->(), user, password);
        if (LdapConnectionStaysUsable(outcome.result.outcome)) {
            return outcome;
        }
        lease.MarkFailed();
        if (outcome.result.outcome != ELdapOutcome::Unavailable || !lease.Reused()) {
            break;
        }
    }
    return outcome;
}

SLdapSignIn CLdapDirectory::SignInOnce(CLdapConnection& connection, std::string_view user,
                                       std::span<const std::uint8_t> password) {
    SLdapSignIn signIn;
    signIn.result = BindSearchAccount(connection);
    if (!signIn.result.Ok()) {
        return signIn;
    }
    const std::vector<std::string> attributes{
        m_directory.groupFilter.empty() ? m_directory.groupAttribute : std::string(kNoAttributes)};
    std::vector<SLdapEntry> found;
    signIn.result =
        connection.Search(m_directory.base, LdapFillFilter(m_directory.userFilter, user),
                          attributes, kUserSizeLimit, found);
    if (!signIn.result.Ok()) {
        return signIn;
    }
    if (found.size() != 1) {
        signIn.result = {ELdapOutcome::NoSuchUser, found.empty()
                                                       ? "no entry matches the user name"
                                                       : "several entries match the user name"};
        return signIn;
    }
    signIn.result = connection.Bind(found.front().dn, password);
    if (!signIn.result.Ok()) {
        return signIn;
    }
    signIn.dn = found.front().dn;
    signIn.result = ReadGroups(connection, found.front(), signIn.groups);
    return signIn;
}

SLdapResult CLdapDirectory::BindSearchAccount(CLdapConnection& connection) {
    SLdapResult result =
        m_directory.bindDn.empty()
            ? connection.BindAnonymously()
            : connection.Bind(m_directory.bindDn, m_directory.bindPassword.Bytes());
    // The search account's refusal is the site's configuration at fault, not the user's password.
    if (result.outcome == ELdapOutcome::InvalidCredentials) {
        result = {ELdapOutcome::ProtocolError, "the search account was refused: " + result.message};
    }
    return result;
}

SLdapResult CLdapDirectory::ReadGroups(CLdapConnection& connection, const SLdapEntry& user,
                                       std::vector<std::string>& groups) {
    groups.clear();
    if (m_directory.groupFilter.empty()) {
        if (const auto* values = user.Values(m_directory.groupAttribute)) {
            groups = *values;
        }
        return {};
    }
    // Searched as the user just bound, with the user's own rights.
    std::vector<SLdapEntry> found;
    SLdapResult result =
        connection.Search(m_directory.base, LdapFillFilter(m_directory.groupFilter, user.dn),
                          {std::string(kNoAttributes)}, kGroupSizeLimit, found);
    for (auto& entry : found) {
        groups.push_back(std::move(entry.dn));
    }
    return result;
}
