// The one readiness wait of the program: poll() on a single descriptor until an absolute
// deadline, restarted with the remaining time when a signal interrupts it. Socket layers, the
// SLP user agent and the tools all wait through it, so that every wait is bounded the same way.
#pragma once

#include <chrono>

enum class EPollResult {
    Ready,   // one of the events (or an error or hang-up condition) is present
    Timeout, // the deadline passed first
    Failed,  // poll() itself failed with something other than EINTR
};

using PollClock = std::chrono::steady_clock;

// Waits for events (POLLIN, POLLOUT, ...) on fd until the deadline. A deadline in the past still
// looks once, without waiting, so that what is already there is found.
EPollResult WaitForEvents(int fd, short events, PollClock::time_point deadline);

// The same with a relative wait.
EPollResult WaitForEvents(int fd, short events, std::chrono::milliseconds wait);

// Milliseconds left until the deadline, 0 when it has passed; rounded up so that a wait never
// ends just before its deadline.
int MillisecondsUntil(PollClock::time_point deadline);
