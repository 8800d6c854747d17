// What an LDAP operation came to, as a value: the directory client never throws to its callers.
#pragma once

#include <string>

enum class ELdapOutcome {
    Ok,
    InvalidCredentials, // wrong password, or an empty one refused before any bind
    NoSuchUser,         // the search found nobody (or more than one entry) for the name
    Unavailable,        // no server of the list could be reached
    Timeout,            // a server or the pool did not answer within the timeout
    ProtocolError,      // the server refused the request or answered something unusable
    TlsError,           // the TLS handshake or the certificate check failed
    Busy,               // every pooled connection stayed lent for the timeout: congestion on
                        // this side, which says nothing of the server
};

struct SLdapResult {
    ELdapOutcome outcome = ELdapOutcome::Ok;
    // The library's or the server's words, for the log; empty on success.
    std::string message;

    bool Ok() const { return outcome == ELdapOutcome::Ok; }
};

// A short English name of the outcome, for logs and test messages.
const char* LdapOutcomeName(ELdapOutcome outcome);
