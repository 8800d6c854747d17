// How one login to a storage server ended, as a value: the login client hands it to its caller
// once the record shows it; the console turns it into its message boxes and Auth cell, orvanectl
// into a line, the audit trail into a record.
#pragma once

#include <chrono>
#include <string>

enum class ELoginResult {
    Succeeded,
    Refused,        // HTTP 401: the administrator credentials are wrong
    NotSupported,   // HTTP 404: the array has no such interface
    HttpStatus,     // another HTTP status (nCode)
    TransportError, // no HTTP answer (nCode is the client's error number)
    Superseded,     // answered 200, but the record left or changed address meanwhile
};

struct CLoginOutcome {
    std::u16string strMAC;
    std::u16string strIP;
    std::u16string strUserName;
    ELoginResult eResult = ELoginResult::Succeeded;
    long nCode = 0;
    // What the operator reads of a failure ("Authentication failed", ...); empty otherwise.
    std::u16string strMessage{};
    // Whether an operator had logged in to the array, or given a group access to it, before.
    bool bKnown = true;
    // Whether the login named another address than the array's own, to move it there.
    bool bRebind = false;
    // Whether the array's record holds credentials the service hands out, once this login ended
    // (a failed re-login leaves earlier ones in place): what the row's Auth cell says.
    bool bAuthorized = false;
    // A 200 whose body did not fit the record's buffer: the record keeps the part that did.
    bool bBodyCut = false;
    // How long the array had to answer: what a request that timed out waited for.
    std::chrono::milliseconds requestTimeout{0};
};
