// Signing a user in through the site's LDAP directory: find the user's entry with the search
// account (or anonymously), bind as that entry with the password given, and read the groups.
#pragma once

#include "platform/crypto/CSecretBytes.h"
#include "platform/ldap/CLdapPool.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct SLdapDirectoryOptions {
    std::string base;
    // A filter with "%s" where the escaped user name goes.
    std::string userFilter = "(&(objectClass=person)(uid=%s))";
    // The search account; an empty DN searches anonymously.
    std::string bindDn;
    CSecretBytes bindPassword;
    // The user entry's attribute that lists its groups, or (when groupFilter is set) a filter
    // with "%s" where the user's escaped DN goes, whose matches are the groups.
    std::string groupAttribute = "memberOf";
    std::string groupFilter;
    std::size_t poolSize = 4;
};

struct SLdapSignIn {
    SLdapResult result;
    std::string dn;
    // The DNs of the user's groups.
    std::vector<std::string> groups;
};

// One step of a traced sign-in, for an operator who checks the settings: what was done, whether
// it worked, and what was found or why not.
struct SLdapStep {
    std::string name; // "connect", "TLS", "search", "bind" or "groups"
    bool ok = false;
    std::string detail;
    std::vector<std::string> found{}; // what the step found, one per line (the groups' DNs)
};

class CLdapDirectory {
public:
    CLdapDirectory(SLdapOptions connection, SLdapDirectoryOptions directory);

    // Safe to call from several threads at once; they share the pool.
    SLdapSignIn SignIn(std::string_view user, std::span<const std::uint8_t> password);
    // The same sign-in on a connection of its own, outside the pool, told step by step; it
    // stops at the first step that fails.
    std::vector<SLdapStep> Trace(std::string_view user, std::span<const std::uint8_t> password);
    // Connections open now, lent or idle: never more than the pool's size.
    std::size_t OpenConnections() const { return m_pool.OpenCount(); }

private:
    SLdapSignIn SignInOnce(CLdapConnection& connection, std::string_view user,
                           std::span<const std::uint8_t> password);
    SLdapResult BindSearchAccount(CLdapConnection& connection);
    SLdapResult ReadGroups(CLdapConnection& connection, const SLdapEntry& user,
                           std::vector<std::string>& groups);

    SLdapResult FindUser(CLdapConnection& connection, std::string_view user, SLdapEntry& entry);

    SLdapDirectoryOptions m_directory;
    CLdapPool m_pool;
};
