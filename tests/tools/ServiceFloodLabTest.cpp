// The program's credential service on the lab's LAN while one client computer holds a thousand
// idle connections: the usual soft limit on open files and one flooding host must not keep
// another computer's "/Query" and GET from their answers.
#include "tests/tools/CLabTest.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// Opens up to 1,000 connections to the service and keeps them idle; when the file "$1.count"
// appears, tells how many connected and how many the service still holds open.
constexpr const char* kFlood = R"(
import os, socket, sys, time
base = sys.argv[1]
sockets = []
end = time.monotonic() + 20
for i in range(1000):
    if time.monotonic() > end:
        break
    s = socket.socket()
    s.settimeout(2)
    try:
        s.connect(("10.77.0.1", 51001))
        sockets.append(s)
    except OSError:
        s.close()
open(base + ".ready", "w").close()
end = time.monotonic() + 30
while not os.path.exists(base + ".count") and time.monotonic() < end:
    time.sleep(0.05)
held = 0
for s in sockets:
    s.setblocking(False)
    try:
        held += 1 if s.recv(1, socket.MSG_PEEK) else 0
    except BlockingIOError:
        held += 1
    except OSError:
        pass
print("connected", len(sockets))
print("held", held)
)";

using ServiceFloodLab = CLabTest;

TEST_F(ServiceFloodLab, AThousandIdleConnectionsFromOneHostLeaveOthersServed) {
    const std::string script = std::string(R"(
unset DISPLAY WAYLAND_DISPLAY
export XDG_CONFIG_HOME="$LAB_DIR/config" XDG_STATE_HOME="$LAB_DIR/state"
mkdir -p "$LAB_DIR/www" && cd "$LAB_DIR/www" || exit 1
echo '<html>page</html>' > page.htm
cat > "$LAB_DIR/flood.py" <<'EOF'
)") + kFlood + R"(EOF
ulimit -Sn 1024
OrvaneSrv 2>"$LAB_DIR/err" &
pid=$!
i=0
until curl -s -o /dev/null http://10.77.0.1:51001/ || [ $i -ge 200 ]; do
    i=$((i + 1)); sleep 0.05
done
ip netns exec "$LAB_CLIENT_NS" python3 "$LAB_DIR/flood.py" "$LAB_DIR/flood" &
flood=$!
i=0
until [ -e "$LAB_DIR/flood.ready" ] || [ $i -ge 600 ]; do
    i=$((i + 1)); sleep 0.05
done
printf 'x\n' | ip netns exec "$LAB_CLIENT2_NS" curl -s --max-time 1 -u admin:9983 \
    --data-binary @- http://10.77.0.1:51001/Query
echo
ip netns exec "$LAB_CLIENT2_NS" curl -s --max-time 1 http://10.77.0.1:51001/page.htm
touch "$LAB_DIR/flood.count"
wait $flood
grep -c 'OrvaneSrv: 10.77.0.3 holds 64 connections; further connections from it are closed' \
    "$LAB_DIR/err"
kill -TERM $pid
wait $pid
echo "exit $?"
)";
    const LabResult result = Run("--arrays 0 --clients 2", script);
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, (std::vector<std::string>{
                                "<StorageServers AdminGroup=\"Yes\"></StorageServers>",
                                "<html>page</html>", "connected 1000", "held 64", "1", "exit 0"}));
}

} // namespace
