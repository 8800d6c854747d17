// Building a lab around a test script and collecting the script's output.
#include "tests/tools/CLabTest.h"

#include "tests/support/TestGate.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

void CLabTest::SetUp() {
    // The lab is named namespaces joined by veth links to a bridge; its scripts use curl.
    ORVANE_GATE("netns", "ipnetns", "veth", "curl");
    char pattern[] = "/tmp/orvlabtest-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_dir = pattern;
}

void CLabTest::TearDown() {
    if (!m_dir.empty()) {
        std::filesystem::remove_all(m_dir);
    }
}

LabResult CLabTest::Run(const std::string& labArgs, const std::string& script,
                        const std::vector<std::string>& extra, const std::string& config) {
    std::ofstream(m_dir / "slp.conf") << config;
    std::ofstream(m_dir / "run.sh") << "PATH=" << ORVANE_BIN_DIR << ":$PATH\n" << script;
    std::ofstream extraFile(m_dir / "extra");
    for (const std::string& line : extra) {
        extraFile << line << "\n";
    }
    extraFile.close();
    std::string command = "OpenSLPConfig='" + (m_dir / "slp.conf").string() + "' " +
                          ORVANE_SOURCE_DIR + "/tools/lab/orvane-lab.sh --bin " + ORVANE_BIN_DIR +
                          " --extra '" + (m_dir / "extra").string() + "' " + labArgs + " -- sh '" +
                          (m_dir / "run.sh").string() + "'";
    LabResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    std::string output;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, got);
    }
    int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream stream(output);
    for (std::string line; std::getline(stream, line);) {
        result.lines.push_back(line);
    }
    return result;
}
