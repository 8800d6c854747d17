// Two copies of the program with a (offscreen) display, inside a network namespace made for the
// test: the second brings the first one's window forward and ends; a first copy without a window
// cannot come forward, so the second names it and the ways on.
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

TEST_F(SecondCopy, AHeadlessFirstCopyIsNamedInABoxWithTheWaysOn) {
    // The second copy's box stays until it is closed: a stop signal closes it here.
    const std::string out = InNamespace(R"sh(
env -u DISPLAY "$program" 2>first.err &
first=$!
wait_until 30 grep -qs 'running until' first.err
grep -c 'no display' first.err
DISPLAY=:77 "$program" 2>second.err &
second=$!
wait_until 30 grep -qs 'orvanectl' second.err
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
