// Two copies of the program with a (offscreen) display, inside a network namespace made for the
// test: the second brings the first one's window forward and ends; a first copy without a window
// cannot come forward, so the second says that one runs already.
#include "tests/support/CProgramNamespaceTest.h"

#include <gtest/gtest.h>

namespace {

using SecondCopy = CProgramNamespaceTest;

// Starts the first copy in the background and waits until it serves.
constexpr const char* kFirstWithWindow = R"sh(
sock="$XDG_CONFIG_HOME/OrvaneSrv/instance.sock"
DISPLAY=:77 "$program" 2>first.err &
first=$!
wait_until 30 test -S "$sock"
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

TEST_F(SecondCopy, AHeadlessFirstCopyCannotComeForwardSoTheSecondSaysSo) {
    const std::string out = InNamespace(R"sh(
env -u DISPLAY "$program" 2>first.err &
first=$!
wait_until 30 grep -qs 'running until' first.err
grep -c 'no display' first.err
DISPLAY=:77 "$program" 2>second.err
echo "second exit $?"
grep '^OrvaneSrv' second.err
kill -TERM $first
wait $first
echo "first exit $?"
)sh");
    EXPECT_EQ(out, "1\nsecond exit 0\nOrvaneSrv is already running for this user.\nfirst exit 0\n");
}

} // namespace
