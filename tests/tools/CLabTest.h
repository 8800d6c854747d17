// The fixture of the end-to-end tests in the namespace lab: it writes a shell script and the SLP
// settings into a scratch folder, builds a lab with tools/lab/orvane-lab.sh, runs the script in
// the lab's manager namespace and hands back its exit status and output lines. Where the lab's
// namespaces and links cannot be made, the tests skip with the reason (see TestGate.h).
#pragma once

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// A multicast schedule of about a second, so that each search ends quickly.
inline constexpr const char* kShortSchedule = "net.slp.multicastTimeouts = 150,150,150,150\n"
                                              "net.slp.multicastMaximumWait = 1000\n"
                                              "net.slp.unicastTimeouts = 100,200,300\n"
                                              "net.slp.unicastMaximumWait = 1000\n";

struct LabResult {
    int status = -1;
    std::vector<std::string> lines;
};

class CLabTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs script (sh) in the manager namespace of a lab built with labArgs; extra lines give
    // per-array simulator options, config the SLP settings. The build's programs are on PATH.
    LabResult Run(const std::string& labArgs, const std::string& script,
                  const std::vector<std::string>& extra = {},
                  const std::string& config = kShortSchedule);

    std::filesystem::path m_dir;
};
