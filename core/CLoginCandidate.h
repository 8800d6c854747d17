// Where one array stands for a login, as the directory's rules see it: whether its product
// takes logins, whether it is known (an operator logged in to it, or a group gives access to
// it), and whether other addresses announce its MAC. Fleet-wide logins send credentials only to
// known arrays at their own address; the operator names any other one explicitly.
#pragma once

#include "storage/CServerData.h"

#include <string>

struct CLoginCandidate {
    std::u16string strMAC;
    std::u16string strIP; // the bound address
    std::u16string strName;
    std::u16string strProduct;
    bool bSupported = false;
    bool bKnown = false;
    EAddressState eState = EAddressState::Bound;
    std::u16string strLatestClaim{}; // the other address seen last, when any

    // Whether a login that names no address and no array by name may go to it.
    bool FleetMayReach() const { return bSupported && bKnown && eState == EAddressState::Bound; }
};
