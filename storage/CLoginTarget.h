// One server of a login: its MAC and the address the login goes to, as they stood when the
// operator chose it.
#pragma once

#include <optional>
#include <string>

// The administrator credentials one login sends.
struct CLoginCredentials {
    std::u16string strUserName;
    std::u16string strPassword;
};

struct CLoginTarget {
    std::u16string strMAC;
    std::u16string strIP;
    // Whether the array was known (logged in to before, or in a group's access list): recorded
    // with the login.
    bool bKnown = true;
    // strIP is another address than the record's: a success moves the record there.
    bool bRebind = false;
    // This array's own credentials (a file of per-array passwords, a remembered authorization);
    // none: the request's.
    std::optional<CLoginCredentials> credentials = std::nullopt;
    // The login verifies an authorization remembered from an earlier run: the record says so
    // when it succeeds.
    bool bRemembered = false;
};
