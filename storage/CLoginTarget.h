// One server of a login: its MAC and the address the login goes to, as they stood when the
// operator chose it.
#pragma once

#include <string>

struct CLoginTarget {
    std::u16string strMAC;
    std::u16string strIP;
    // Whether the array was known (logged in to before, or in a group's access list): recorded
    // with the login.
    bool bKnown = true;
    // strIP is another address than the record's: a success moves the record there.
    bool bRebind = false;
};
