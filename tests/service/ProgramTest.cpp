// The OrvaneSrv program itself on port 51001, in a private network namespace made for the test
// (nothing else listens there and nothing leaves it), with its registry in a temporary folder.
#include "tests/support/CProgramNamespaceTest.h"

#include <gtest/gtest.h>
#include <string>

namespace {

class Program : public CProgramNamespaceTest {
protected:
    Program() : CProgramNamespaceTest({"sqlite3", "md5sum"}) {}
};

constexpr const char* kStartProgram = "start_program\n";

TEST_F(Program, AProgramStartedInADeletedFolderServesNothing) {
    const std::string out = InNamespace(R"(
mkdir gone && cd gone && rmdir "$PWD"
)" + std::string(kStartProgram) + R"(
for path in /etc/passwd //etc/passwd /etc/shadow /../../etc/passwd /proc/self/environ; do
    curl -s -o /dev/null -w '%{http_code} ' --path-as-is "http://127.0.0.1:51001$path"
done
echo
grep -c 'credential service on port 51001 serves no files: working directory: ' "$log"
kill -TERM $pid
wait $pid
)");
    EXPECT_EQ(out, "404 404 404 404 404 \n1\n");
}

TEST_F(Program, TheStartScriptServesTheWebFolderAndNothingElse) {
    // A copy of the project's layout whose build and package steps do nothing.
    const std::string tree = (m_work.Path() / "tree").string();
    const std::string out = InNamespace(R"(
tree=')" + tree + R"('
mkdir -p "$tree/scripts" "$tree/build/bin" "$tree/stubs"
cp ')" ORVANE_SOURCE_DIR R"(/scripts/start.sh' "$tree/scripts/"
cp -r ')" ORVANE_SOURCE_DIR R"(/www' "$tree/www"
printf '#!/bin/sh\nexit 0\n' > "$tree/scripts/install-deps.sh"
cp "$tree/scripts/install-deps.sh" "$tree/stubs/cmake"
chmod +x "$tree/scripts/install-deps.sh" "$tree/stubs/cmake"
ln -s "$program" "$tree/build/bin/OrvaneSrv"
echo source > "$tree/README.md"
PATH="$tree/stubs:$PATH" "$tree/scripts/start.sh" 2>"$log" &
pid=$!
wait_until 30 curl -s -o /dev/null http://127.0.0.1:51001/
curl -s http://127.0.0.1:51001/ | cmp - "$tree/www/default.htm" && echo "default page"
for path in /README.md /scripts/start.sh /build/bin/OrvaneSrv /www/default.htm; do
    curl -s -o /dev/null -w '%{http_code} ' "http://127.0.0.1:51001$path"
done
echo
kill -TERM $pid
wait $pid
)");
    EXPECT_EQ(out, "default page\n404 404 404 404 \n");
}

TEST_F(Program, ATakenPortLeavesTheProgramRunningWithAViewLine) {
    // A first copy holds the port; a second one, with a registry of its own, cannot bind it.
    const std::string out = InNamespace(std::string(kStartProgram) + R"(
mkdir -p "$XDG_CONFIG_HOME/second"
XDG_CONFIG_HOME="$XDG_CONFIG_HOME/second" "$program" 2>"$log.second" &
second=$!
# Past its start-up, port and all, and still there.
wait_until 30 grep -qs 'running until' "$log.second"
kill -0 $second && echo running
grep -c 'WINSOCK ERROR--VIEW: Bind error #98 -- ' "$log.second"
kill -TERM $second $pid
wait $second
echo "exit $?"
)");
    EXPECT_EQ(out, "running\n1\nexit 0\n");
}

TEST_F(Program, ASlowClientWhileTheProgramStops) {
    const std::string out = InNamespace(std::string(kStartProgram) + R"(
exec 3<>/dev/tcp/127.0.0.1/51001
printf 'POST /Query HTTP/1.0\r\nAuthorization: Basic YWRtaW46OTk4Mw==\r\n\r\n' >&3
# A service thread holds the request, waiting for its body.
wait_until 30 grep -q 'POST /Query HTTP' "$log"
kill -TERM $pid
wait $pid
echo "exit $?"
printf 'x\n' >&3 2>/dev/null
cat <&3
echo "closed"
)");
    EXPECT_EQ(out, "exit 0\nclosed\n");
}

TEST_F(Program, RunsWithoutCoreDumpsWithAllItsDescriptorsAndAPrivateServiceLog) {
    // The usual soft limit on open files, below the hard one.
    const std::string out = InNamespace("ulimit -Sn 1024\n" + std::string(kStartProgram) + R"(
awk '/^Max open files/ { print ($4 == $5) ? "open files at the hard limit" : "open files " $4 }
     /^Max core file size/ { print "core " $5 " " $6 }' /proc/$pid/limits
curl -s -o /dev/null http://127.0.0.1:51001/probe.htm
kill -TERM $pid
wait $pid
file="$XDG_STATE_HOME/OrvaneSrv/service.log"
stat -c '%a' "$XDG_STATE_HOME/OrvaneSrv" "$file"
grep -c 'GET /probe.htm HTTP' "$file" "$log" | sed 's|.*:||'
)");
    EXPECT_EQ(out, "core 0 0\nopen files at the hard limit\n700\n600\n1\n1\n");
}

// A fresh program answers the administrator; a second copy ends and leaves its store alone.
TEST_F(Program, ASecondCopyEndsAtOnceAndLeavesTheStoreAlone) {
    const std::string out = InNamespace(std::string(kStartProgram) + R"(
db="$XDG_CONFIG_HOME/OrvaneSrv/registry.db"
before=$(sqlite3 "$db" 'select hex(name), hex(data) from reg_values' | md5sum)
timeout 5 "$program" 2>"$log.second"
echo "second exit $?"
grep -c 'already running' "$log.second"
after=$(sqlite3 "$db" 'select hex(name), hex(data) from reg_values' | md5sum)
[ "$before" = "$after" ] && echo unchanged
curl -s -u admin:9983 -X POST --data-binary $'x\n' http://127.0.0.1:51001/Query
echo
kill -TERM $pid
wait $pid
echo "exit $?"
)");
    EXPECT_EQ(out,
              "second exit 0\n1\nunchanged\n<StorageServers AdminGroup=\"Yes\"></StorageServers>\n"
              "exit 0\n");
}

// clang-format off
TEST_F(Program, HelpVersionAndBadUsageOpenNothing) {
    // Each line: the arguments, their status and the first line the program printed; nothing
    // of the store's folder may exist afterwards.
    const std::string out = InNamespace(R"sh(
mkdir web
while read -r args; do
    DISPLAY=:77 "$program" $args >out 2>err
    status=$?
    echo "$args: $status $(cat out err | head -n 1 | cut -c 1-40)"
done <<'ARGS'
--help
--version
--headless --help
--frobnicate
serve
--www
--www missing
--www web/../missing --version
ARGS
[ -e "$XDG_CONFIG_HOME/OrvaneSrv" ] && echo "store folder made"
true
)sh");
    EXPECT_EQ(out, "--help: 0 usage: OrvaneSrv [--headless] [--www DIR\n"
                   "--version: 0 OrvaneSrv " ORVANE_VERSION_FOR_TEST "\n"
                   "--headless --help: 0 usage: OrvaneSrv [--headless] [--www DIR\n"
                   "--frobnicate: 2 OrvaneSrv: unknown option --frobnicate\n"
                   "serve: 2 OrvaneSrv: unexpected argument serve\n"
                   "--www: 2 OrvaneSrv: --www needs a folder\n"
                   "--www missing: 2 OrvaneSrv: cannot serve missing: No such\n"
                   "--www web/../missing --version: 0 OrvaneSrv " ORVANE_VERSION_FOR_TEST "\n");
}
// clang-format on

TEST_F(Program, HeadlessWithADisplayServesTheFolderOfItsCommandLine) {
    const std::string out = InNamespace(R"(
mkdir -p served && echo here >served/page.htm
DISPLAY=:77 "$program" --headless --www served 2>"$log" &
pid=$!
wait_until 30 curl -s -o /dev/null http://127.0.0.1:51001/
curl -s http://127.0.0.1:51001/page.htm
grep -c 'no display' "$log"
kill -TERM $pid
wait $pid
echo "exit $?"
)");
    EXPECT_EQ(out, "here\n0\nexit 0\n");
}

TEST_F(Program, TellsTheServiceManagerWhenItServesAndWhenItStops) {
    const std::string out = InNamespace(R"sh(
notify="$PWD/notify.sock"
python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
for _ in range(2):
    print(s.recv(4096).decode().split("\n")[0], flush=True)
' "$notify" >notes &
listener=$!
wait_until 30 test -S "$notify"
NOTIFY_SOCKET="$notify" "$program" --headless 2>"$log" &
pid=$!
wait_until 30 grep -qs READY notes
curl -s -o /dev/null -w '%{http_code}\n' http://127.0.0.1:51001/
kill -TERM $pid
wait $pid
echo "exit $?"
wait $listener
cat notes
)sh");
    EXPECT_EQ(out, "404\nexit 0\nREADY=1\nSTOPPING=1\n");
}

} // namespace
