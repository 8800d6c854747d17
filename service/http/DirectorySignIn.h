// Sign-in of a user of the site's LDAP directory to the credential service: a name that no local
// user has is looked up in the directory (when one is configured), and a user that signs in
// there is given the OrvaneSrv groups that name one of its directory groups, with "Everyone".
// A directory user in no such group is not a user of OrvaneSrv.
#pragma once

#include "core/CTablesView.h"
#include "service/CServiceContext.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Who a directory user is, once signed in.
struct CDirectoryIdentity {
    std::string dn;
    std::vector<std::string> groups;    // the directory's DNs
    std::vector<std::u16string> mapped; // the OrvaneSrv groups they give, sorted
};

enum class EDirectoryCheck {
    Accepted,
    Refused,     // no such user, or a wrong or empty password
    NotMapped,   // signed in, but in no group that an OrvaneSrv group names
    Unavailable, // the directory did not answer usefully
    TablesGone,  // the service is stopping
};

struct CDirectoryCheck {
    EDirectoryCheck result = EDirectoryCheck::Refused;
    CDirectoryIdentity identity;
    bool bCached = false;
    uint64_t generation = 0; // of the tables the groups were mapped in
    std::string reason;      // why not, for the log and the audit trail
    std::string news;        // the directory went down or came back: one log line
};

// Whether the service asks the directory at all.
inline bool HasDirectory(const CServiceContext& context) {
    return context.m_pLdapUsers != nullptr;
}

// encoded: the "Authorization: Basic " value. Blocks for the directory (at most about its
// timeout, never under the guard); maps the groups under the shared guard.
CDirectoryCheck CheckDirectoryUser(const CServiceContext& context, std::string_view encoded,
                                   std::string_view userName);

// Maps the identity's directory groups again in the tables as they are now; false when they
// give no group any more, or a local user of that name now exists (local users come first).
// The caller holds the guard; memo is the run's.
bool MapDirectoryGroups(const CTablesView& tables, std::string_view userName,
                        CDirectoryIdentity& identity, CMappedGroupsMemo& memo);

// What the "/Query" cache files a directory user's answer under: the groups it was composed
// for, marked so that it cannot be taken for a local user's name.
std::string DirectoryCacheKey(const CDirectoryIdentity& identity);
