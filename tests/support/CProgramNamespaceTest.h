// The fixture of the tests that run the OrvaneSrv program itself: each test's script runs with
// bash in a network namespace made for it (only lo, up; nothing reaches or leaves the machine),
// with the program's stores in folders of the test's own and no display unless the script
// names one. Skipped (or failed, see TestGate.h) where such a namespace cannot be made.
#pragma once

#include "tests/support/CTempDir.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

class CProgramNamespaceTest : public ::testing::Test {
protected:
    // needs: what the test's scripts need besides a namespace, timeout and curl (TestGate.h).
    explicit CProgramNamespaceTest(std::initializer_list<std::string_view> needs = {})
        : m_listNeeds(needs.begin(), needs.end()) {}
    void SetUp() override;

    // Runs script and answers its standard output and error. The script starts in an empty
    // folder (m_home) and finds: $program, the OrvaneSrv program; $work, a scratch folder;
    // $log, a file in it; XDG_CONFIG_HOME, XDG_STATE_HOME and XDG_RUNTIME_DIR of its own;
    // QT_QPA_PLATFORM=offscreen; and the shell functions
    //   wait_until SECONDS COMMAND...  runs COMMAND until it succeeds, for at most SECONDS
    //   start_program                  starts $program in the background with its standard
    //                                  error in $log, sets $pid and waits until it serves
    //                                  port 51001
    std::string InNamespace(const std::string& script) const;

    CTempDir m_work;
    CTempDir m_home;
    CTempDir m_config;

private:
    std::vector<std::string> m_listNeeds;
};
