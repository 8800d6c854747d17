// Waiting for an event with a deadline instead of sleeping for a while: a condition polled until
// it holds, and a thread of this process seen asleep in a given system call (a reader in poll,
// an acceptor in accept), read from /proc.
#pragma once

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <span>
#include <string>
#include <sys/syscall.h>
#include <sys/types.h>
#include <thread>
#include <unistd.h>

// How long tests wait for an event that comes at once on an idle machine: only a broken program
// takes this long, a busy machine never does.
inline constexpr std::chrono::seconds kEventDeadline{30};

// Polls the condition until it holds or the limit passes; answers whether it held.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = kEventDeadline) {
    constexpr std::chrono::milliseconds kPollInterval{1};
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

// The kernel's id of the calling thread.
inline pid_t ThisThreadId() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// The calls a thread waits in for readiness, and for a connection; not every architecture has
// the older forms.
inline constexpr long kPollCalls[] = {
    SYS_ppoll,
#ifdef SYS_poll
    SYS_poll,
#endif
};
inline constexpr long kAcceptCalls[] = {SYS_accept4, SYS_accept};

// Whether the thread sleeps in one of the system calls: the kernel names the call only while
// the thread is blocked in it ("running" otherwise).
inline bool IsBlockedIn(pid_t tid, std::span<const long> syscalls) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    if (!(in >> number)) {
        return false;
    }
    return std::find(syscalls.begin(), syscalls.end(), number) != syscalls.end();
}

// Waits until the thread sleeps in one of the system calls.
inline bool WaitUntilBlockedIn(pid_t tid, std::span<const long> syscalls,
                               std::chrono::milliseconds limit = kEventDeadline) {
    return WaitUntil([&] { return IsBlockedIn(tid, syscalls); }, limit);
}
