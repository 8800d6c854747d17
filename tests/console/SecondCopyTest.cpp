// Two copies of the program with a (offscreen) display, inside a network namespace made for the
// test: the second brings the first one's window forward and ends; a first copy without a window
// cannot come forward, so the second names it and the ways on.
#include "tests/support/CTempDir.h"
#include "tests/support/RunShell.h"

#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class SecondCopy : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root to create a private network namespace";
        }
        if (RunShell("command -v unshare ip | wc -l") != "2\n") {
            GTEST_SKIP() << "needs unshare and ip";
        }
    }
    // Runs script in a fresh network namespace with only lo up; answers its standard output.
    std::string InNamespace(const std::string& script) {
        const auto file = m_work / "run.sh";
        std::ofstream(file) << "set -u\nip link set lo up\ncd '" << m_work.Path().string()
                            << "'\nexport XDG_CONFIG_HOME='" << m_config.Path().string()
                            << "' QT_QPA_PLATFORM=offscreen\nunset WAYLAND_DISPLAY\n"
                            << "export XDG_RUNTIME_DIR=\"$XDG_CONFIG_HOME/run\"\n"
                            << "mkdir -m 700 \"$XDG_RUNTIME_DIR\"\n"
                            << "program='" ORVANE_BIN_DIR "/OrvaneSrv'\n"
                            << "sock=\"$XDG_CONFIG_HOME/OrvaneSrv/instance.sock\"\n"
                            << script;
        return RunShell("timeout 60 unshare -n bash '" + file.string() + "' 2>&1");
    }
    CTempDir m_work;
    CTempDir m_config;
};

// Starts the first copy in the background and waits until it serves.
constexpr const char* kFirstWithWindow = R"sh(
DISPLAY=:77 "$program" 2>first.err &
first=$!
for i in $(seq 600); do [ -S "$sock" ] && break; sleep 0.05; done
)sh";

TEST_F(SecondCopy, BringsTheFirstWindowForwardAndEndsQuietly) {
    const std::string out = InNamespace(std::string(kFirstWithWindow) + R"sh(
DISPLAY=:77 "$program" 2>second.err
echo "second exit $?"
echo "second said: $(grep '^OrvaneSrv' second.err)"
kill -0 $first && echo "first running"
kill -TERM $first
wait $first
echo "first exit $?"
[ -e "$sock" ] && echo "socket left" || true
)sh");
    EXPECT_EQ(out, "second exit 0\nsecond said: \nfirst running\nfirst exit 0\n");
}

TEST_F(SecondCopy, AHeadlessFirstCopyIsNamedInABoxWithTheWaysOn) {
    // The second copy's box stays until it is closed: a stop signal closes it here.
    const std::string out = InNamespace(R"sh(
env -u DISPLAY "$program" 2>first.err &
first=$!
for i in $(seq 600); do grep -qs 'running until' first.err && break; sleep 0.05; done
grep -c 'no display' first.err
DISPLAY=:77 "$program" 2>second.err &
second=$!
for i in $(seq 600); do grep -qs 'orvanectl' second.err && break; sleep 0.05; done
grep -c "without a window (process $first)" second.err
grep -c 'systemctl --user stop orvanesrv' second.err
kill -0 $second && echo "box open"
kill -TERM $second
wait $second
echo "second exit $?"
kill -0 $first && echo "first running"
kill -TERM $first
wait $first
echo "first exit $?"
)sh");
    EXPECT_EQ(out, "1\n1\n1\nbox open\nsecond exit 0\nfirst running\nfirst exit 0\n");
}

} // namespace
