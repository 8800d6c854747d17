// Sign-in through the directory; see CLdapDirectory.h.
#include "platform/ldap/CLdapDirectory.h"

#include "platform/ldap/LdapEscape.h"

namespace {

// Two, so that a filter matching several entries is told from one matching a single user.
constexpr int kUserSizeLimit = 2;
constexpr int kGroupSizeLimit = 1000;
// Asks the server for no attributes, only the entries' DNs.
constexpr std::string_view kNoAttributes = "1.1";

// How the connection to uri is protected, in words.
std::string TlsDescription(std::string_view uri, const SLdapOptions& options) {
    if (uri.starts_with("ldaps://")) {
        return "ldaps://, the server's certificate checked";
    }
    return options.startTls ? "StartTLS, the server's certificate checked"
                            : "none: clear text, as allow_clear_text permits";
}

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
    SLdapEntry entry;
    signIn.result = FindUser(connection, user, entry);
    if (!signIn.result.Ok()) {
        return signIn;
    }
    signIn.result = connection.Bind(entry.dn, password);
    if (!signIn.result.Ok()) {
        return signIn;
    }
    signIn.dn = entry.dn;
    signIn.result = ReadGroups(connection, entry, signIn.groups);
    return signIn;
}

SLdapResult CLdapDirectory::FindUser(CLdapConnection& connection, std::string_view user,
                                     SLdapEntry& entry) {
    SLdapResult result = BindSearchAccount(connection);
    if (!result.Ok()) {
        return result;
    }
    const std::vector<std::string> attributes{
        m_directory.groupFilter.empty() ? m_directory.groupAttribute : std::string(kNoAttributes)};
    std::vector<SLdapEntry> found;
    result = connection.Search(m_directory.base, LdapFillFilter(m_directory.userFilter, user),
                               attributes, kUserSizeLimit, found);
    if (!result.Ok()) {
        return result;
    }
    if (found.size() != 1) {
        return {ELdapOutcome::NoSuchUser, found.empty() ? "no entry matches the user name"
                                                        : "several entries match the user name"};
    }
    entry = std::move(found.front());
    return result;
}

std::vector<SLdapStep> CLdapDirectory::Trace(std::string_view user,
                                             std::span<const std::uint8_t> password) {
    std::vector<SLdapStep> steps;
    const auto failed = [&](std::string name, const SLdapResult& result) {
        steps.push_back({std::move(name), false,
                         std::string(LdapOutcomeName(result.outcome)) + ": " + result.message});
        return steps;
    };
    if (password.empty()) {
        return failed("bind", {ELdapOutcome::InvalidCredentials, "an empty password is refused"});
    }
    CLdapConnection connection(m_pool.Options());
    const SLdapResult opened = connection.Open();
    if (opened.outcome == ELdapOutcome::TlsError) {
        steps.push_back({"connect", true, "a server answered"});
        return failed("TLS", opened);
    }
    if (!opened.Ok()) {
        return failed("connect", opened);
    }
    steps.push_back({"connect", true, connection.Uri()});
    steps.push_back({"TLS", true, TlsDescription(connection.Uri(), m_pool.Options())});
    SLdapEntry entry;
    if (const SLdapResult found = FindUser(connection, user, entry); !found.Ok()) {
        return failed("search", found);
    }
    steps.push_back({"search", true, entry.dn});
    if (const SLdapResult bound = connection.Bind(entry.dn, password); !bound.Ok()) {
        return failed("bind", bound);
    }
    steps.push_back({"bind", true, "the password was accepted"});
    std::vector<std::string> groups;
    if (const SLdapResult read = ReadGroups(connection, entry, groups); !read.Ok()) {
        return failed("groups", read);
    }
    std::string detail =
        std::to_string(groups.size()) + (groups.size() == 1 ? " group" : " groups");
    steps.push_back({"groups", true, std::move(detail), std::move(groups)});
    return steps;
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
