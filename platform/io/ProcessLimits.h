// Limits the program sets on itself at start: room for many descriptors (a LAN client may hold
// hundreds of connections while discovery and logins need sockets of their own), and no core
// dump or ptrace-style reading of its memory, which holds every administrator password in
// clear text.
#pragma once

#include <cstdint>

// Raises the soft limit on open files to the hard limit (to the kernel's per-process ceiling
// when the hard limit is unlimited) and answers the soft limit in force afterwards; 0 when it
// cannot be read.
uint64_t RaiseOpenFileLimit();

// Makes the process non-dumpable and sets its core size limit to 0, soft and hard. False when
// either could not be done.
bool ForbidCoreDumps();
