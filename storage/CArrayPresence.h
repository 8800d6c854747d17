// An array that left the System list (no answer from its own address in a pass) or came back
// to it after leaving, as discovery tells the log and the audit trail. A pass names at most
// CServerDiscovery::kMaxPresenceNewsPerPass arrays of each kind; the rest of that kind come as
// one piece of news that only counts them, so that a LAN announcing and withdrawing thousands of
// addresses cannot flood either.
#pragma once

#include <cstddef>
#include <string>

enum class EArrayPresence { Left, Back };

struct CArrayPresence {
    EArrayPresence eKind = EArrayPresence::Left;
    std::u16string mac; // empty for the servers that announce none
    std::u16string ip;
    std::u16string systemName;
    // Non-zero: this many more arrays of the kind, beyond the ones named this pass.
    std::size_t nMore = 0;
};
