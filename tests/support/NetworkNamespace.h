// Puts the test process in a network namespace of its own, with only its loopback up, so that
// the servers a test starts (a directory, the credential service) are reachable from nowhere
// else. Once per process: the namespace then holds the process until it ends.
#pragma once

#include <cstdlib>
#include <sched.h>

inline bool IsolateInOwnNetworkNamespace() {
    static const bool isolated =
        ::unshare(CLONE_NEWNET) == 0 && std::system("ip link set lo up") == 0;
    return isolated;
}
