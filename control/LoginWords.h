// The plain words for how a login ended, or why none was sent, that the operator reads wherever
// logins are reported: the Login press's summary box, the Auth cell's tip and orvanectl's login
// lines all word them here, so that one ending reads the same everywhere. Lower case, no final
// stop: each front end puts them after an address or a time. The array's own texts ("Not
// Support", ...) stay in the outcome for the boxes that show them as they are.
#pragma once

#include "storage/CLoginOutcome.h"

#include <string>

// Why a selected array was given no login.
enum class ELoginSkip {
    NoLogin,         // its product takes no login, or it has no record
    NoMac,           // it announces no MAC address: nothing could keep its credentials
    AddressConflict, // another address announces its MAC address too
    Changed,         // its row changed or went while the Login Dialog was open
};

// "wrong user name or password", "no answer within 30 s", "answered HTTP 404", "logged in", ...
std::u16string LoginOutcomeWords(const CLoginOutcome& outcome);
// "does not support a login", "announces no MAC address", ...
std::u16string LoginSkipWords(ELoginSkip reason);
