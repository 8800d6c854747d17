// Another address that announced a record's MAC address. Discovery never moves a record there:
// the record stays bound to the address of its last successful login (or of its first sighting
// before any login), and such claims only put it in conflict until they stop.
#pragma once

#include <chrono>
#include <string>

struct CAddressClaim {
    std::string strAddress;
    std::chrono::system_clock::time_point firstSeen;
    std::chrono::system_clock::time_point lastSeen;
    // Passes in a row that ended without this address announcing the MAC.
    int nPassesUnseen = 0;
    bool bSeenThisPass = true;
};
