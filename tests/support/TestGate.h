// Gates of the tests that need more of the machine than a process of their own: namespaces, a
// veth pair, another user, programs on PATH. Each need is tried (tests/support/gate.sh, shared
// with the shell tests), never guessed from the user id. A test whose needs cannot be had is
// skipped with the reason, or fails when ORVANE_FAIL_ON_SKIP=1 (CI), where nothing may go unrun.
#pragma once

#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <string_view>

// Empty when every need can be had here; otherwise why the first that cannot be had cannot.
// Needs are gate.sh's words: "netns", "veth", "mountns", "nobody", "python:MODULE" or a program.
std::string GateUnavailable(std::initializer_list<std::string_view> needs);

// True when a test that cannot run must fail rather than skip.
bool GateFailsOnSkip();

// Ends the current test (or fixture SetUp) as skipped for reason, or as failed under
// ORVANE_FAIL_ON_SKIP=1.
#define ORVANE_SKIP(reason)                                                                        \
    do {                                                                                           \
        const std::string orvaneSkipReason_ = (reason);                                            \
        if (GateFailsOnSkip()) {                                                                   \
            GTEST_FAIL() << "cannot run here, and ORVANE_FAIL_ON_SKIP=1 lets nothing skip: "       \
                         << orvaneSkipReason_;                                                     \
        }                                                                                          \
        GTEST_SKIP() << orvaneSkipReason_;                                                         \
    } while (false)

// Skips (or fails, see ORVANE_SKIP) the current test unless every need can be had.
#define ORVANE_GATE(...)                                                                           \
    do {                                                                                           \
        const std::string orvaneGateReason_ = GateUnavailable({__VA_ARGS__});                      \
        if (!orvaneGateReason_.empty()) {                                                          \
            ORVANE_SKIP(orvaneGateReason_);                                                        \
        }                                                                                          \
    } while (false)
