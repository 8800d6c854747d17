// The program's credential service on the lab's LAN under attack from addresses a stranger
// adds to one client computer, while a user on another computer asks for "/Query": guesses at
// her password must not lock her out, and connections held open by slow bodies and stalled TLS
// handshakes must leave both ports answering her within a second.
#include "tests/tools/CLabTest.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// start: the headless program, once both ports answer. attackers FIRST COUNT: adds COUNT
// addresses from 10.77.0.FIRST on to the first client computer and sets $addresses to them,
// comma-separated. ask URL CREDENTIALS [curl options]: "/Query" from the second client
// computer, and the status it was answered with within a second (000 for none).
const std::string kPrelude = R"sh(
export XDG_CONFIG_HOME="$LAB_DIR/config" XDG_STATE_HOME="$LAB_DIR/state"
store="$XDG_CONFIG_HOME/OrvaneSrv"
mkdir -p "$LAB_DIR/www" && echo '<html>page</html>' >"$LAB_DIR/www/default.htm"
HTTPS=https://10.77.0.1:51443 HTTP=http://10.77.0.1:51001
start() {
    OrvaneSrv --headless --www "$LAB_DIR/www" 2>>"$LAB_DIR/err" &
    pid=$!
    for i in $(seq 200); do
        curl -sk -o /dev/null $HTTPS/ && curl -s -o /dev/null $HTTP/ && break
        sleep 0.05
    done
}
stop() { kill -TERM $pid; wait $pid; echo "stop $?"; }
attackers() {
    for a in $(seq "$1" $(($1 + $2 - 1))); do
        ip -n "$LAB_CLIENT_NS" addr add "10.77.0.$a/16" dev eth0 || exit 1
    done
    addresses=$(seq -s, -f '10.77.0.%g' "$1" $(($1 + $2 - 1)))
}
ask() {
    url=$1 credentials=$2; shift 2
    printf 'x\n' | ip netns exec "$LAB_CLIENT2_NS" curl -s -o /dev/null -w '%{http_code}\n' \
        --max-time 1 -u "$credentials" --data-binary @- "$@" "$url"
}
)sh";

// Guesses at alice's password from every address given, each as fast as the service answers,
// for the seconds given; then prints how many were answered.
constexpr const char* kGuesser = R"(
import base64, socket, sys, threading, time
addresses = sys.argv[1].split(",")
end = time.monotonic() + float(sys.argv[2])
request = ("POST /Query HTTP/1.0\r\nAuthorization: Basic %s\r\nContent-Length: 2\r\n\r\nx\n"
           % base64.b64encode(b"alice:guess").decode()).encode()
answered = [0] * len(addresses)
def guess(n):
    while time.monotonic() < end:
        s = socket.socket()
        s.settimeout(5)
        try:
            s.bind((addresses[n], 0))
            s.connect(("10.77.0.1", 51001))
            s.sendall(request)
            if s.recv(12).startswith(b"HTTP/1.0 401"):
                answered[n] += 1
        except OSError:
            time.sleep(0.01)
        finally:
            s.close()
threads = [threading.Thread(target=guess, args=(n,)) for n in range(len(addresses))]
for t in threads:
    t.start()
for t in threads:
    t.join()
print("guesses", sum(answered))
)";

// Holds up to PER connections from each address given, half of them on the plain port sending a
// password push's body a byte every 3 s, half on the TLS port never starting the handshake; a
// connection the service closes is opened again about a second later. Writes BASE.ready once the
// first ones have been held for 3 s and stops when BASE.stop appears, printing how many it holds.
// The delays before opening again are spread, as many clients' would be: the same second for all
// would be a burst of connection attempts beyond any listen queue, a test of the kernel instead.
constexpr const char* kHolder = R"(
import os, random, selectors, socket, sys, time
addresses, per, base = sys.argv[1].split(","), int(sys.argv[2]), sys.argv[3]
PLAIN, TLS = 51001, 51443
head = b"POST /UpdateAdminPasswd?02:00:00:00:00:01 HTTP/1.0\r\nContent-Length: 100\r\n\r\n"
sel = selectors.DefaultSelector()
due = []
def open_one(address, port):
    s = socket.socket()
    s.setblocking(False)
    try:
        s.bind((address, 0))
        s.connect_ex(("10.77.0.1", port))
    except OSError:
        s.close()
        due.append((time.monotonic() + random.uniform(0.5, 1.5), address, port))
        return
    sel.register(s, selectors.EVENT_WRITE, (address, port))
def drop(s, data):
    sel.unregister(s)
    s.close()
    due.append((time.monotonic() + random.uniform(0.5, 1.5),) + data)
for address in addresses:
    for i in range(per):
        open_one(address, PLAIN if i % 2 else TLS)
ready = time.monotonic() + 3
trickle = time.monotonic() + 3
while not os.path.exists(base + ".stop"):
    for key, events in sel.select(0.2):
        s, data = key.fileobj, key.data
        if events & selectors.EVENT_WRITE:
            if s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR):
                drop(s, data)
                continue
            try:
                if data[1] == PLAIN:
                    s.send(head)
                sel.modify(s, selectors.EVENT_READ, data)
            except OSError:
                drop(s, data)
        else:
            drop(s, data)
    now = time.monotonic()
    if now >= trickle:
        trickle = now + 3
        for key in list(sel.get_map().values()):
            if key.data[1] == PLAIN and key.events == selectors.EVENT_READ:
                try:
                    key.fileobj.send(b"x")
                except OSError:
                    drop(key.fileobj, key.data)
    due.sort()
    while due and due[0][0] <= now:
        _, address, port = due.pop(0)
        open_one(address, port)
    if ready and now >= ready:
        open(base + ".ready", "w").close()
        ready = None
held = sum(1 for key in sel.get_map().values() if key.events == selectors.EVENT_READ)
print("held", held)
)";

// The number after "prefix " on the line that starts with it, or -1.
int Number(const LabResult& result, const std::string& prefix) {
    for (const std::string& line : result.lines) {
        if (line.rfind(prefix + " ", 0) == 0) {
            return std::stoi(line.substr(prefix.size() + 1));
        }
    }
    return -1;
}

std::string Joined(const LabResult& result) {
    std::string text;
    for (const std::string& line : result.lines) {
        text += line + "\n";
    }
    return text;
}

using ServiceAttackLab = CLabTest;

TEST_F(ServiceAttackLab, GuessesAtAlicesPasswordFromManyAddressesLeaveHerGettingIn) {
    const std::string script = kPrelude + "cat >\"$LAB_DIR/guess.py\" <<'EOF'\n" + kGuesser +
                               R"sh(EOF
start
printf 'pw\n' | orvanectl user add alice --password-stdin
attackers 100 24
ip netns exec "$LAB_CLIENT_NS" python3 "$LAB_DIR/guess.py" "$addresses" 60 >"$LAB_DIR/guesses" &
guesser=$!
for i in $(seq 400); do
    grep -q 'checks for user "alice"' "$LAB_DIR/err" && break
    sleep 0.05
done
for i in $(seq 100); do
    ask $HTTP/Query alice:pw
    sleep 0.4
done >"$LAB_DIR/alice"
echo "alice $(grep -c '^200$' "$LAB_DIR/alice")"
wait $guesser
cat "$LAB_DIR/guesses"
stop
echo "slowed $(grep -c 'checks for user "alice"' "$LAB_DIR/err")"
)sh";
    const LabResult result = Run("--arrays 0 --clients 2", script);
    ASSERT_EQ(result.status, 0) << Joined(result);
    SCOPED_TRACE(Joined(result));
    // The attack reached the throttle: the name was slowed, and guessing went on throughout.
    EXPECT_EQ(Number(result, "slowed"), 1);
    EXPECT_GT(Number(result, "guesses"), 1000);
    EXPECT_GE(Number(result, "alice"), 99);
    EXPECT_EQ(Number(result, "stop"), 0);
}

TEST_F(ServiceAttackLab, SlowBodiesAndStalledHandshakesLeaveBothPortsAnswering) {
    // The descriptors that make the cap on connections 1,024.
    const std::string script = kPrelude + "cat >\"$LAB_DIR/hold.py\" <<'EOF'\n" + kHolder +
                               R"sh(EOF
ulimit -n 4096
start
attackers 100 8
ip netns exec "$LAB_CLIENT_NS" python3 "$LAB_DIR/hold.py" "$addresses" 256 "$LAB_DIR/hold" \
    >"$LAB_DIR/held" &
holder=$!
for i in $(seq 400); do
    [ -e "$LAB_DIR/hold.ready" ] && break
    sleep 0.05
done
for i in $(seq 100); do
    echo "plain $(ask $HTTP/Query admin:9983)"
    echo "tls $(ask $HTTPS/Query admin:9983 --cacert "$store/tls.crt")"
    sleep 0.2
done >"$LAB_DIR/answers"
grep -v " 200$" "$LAB_DIR/answers" | sort | uniq -c | sed "s/^ */missed /"
echo "plain $(grep -c '^plain 200$' "$LAB_DIR/answers")"
echo "tls $(grep -c '^tls 200$' "$LAB_DIR/answers")"
touch "$LAB_DIR/hold.stop"
wait $holder
cat "$LAB_DIR/held"
stop
grep -o 'holds [0-9]* connections' "$LAB_DIR/err" | sort -u
)sh";
    const LabResult result = Run("--arrays 0 --clients 2", script);
    ASSERT_EQ(result.status, 0) << Joined(result);
    SCOPED_TRACE(Joined(result));
    EXPECT_GE(Number(result, "plain"), 99);
    EXPECT_GE(Number(result, "tls"), 99);
    // Every attacking address held all it may.
    EXPECT_EQ(Number(result, "holds"), 64);
    EXPECT_EQ(Number(result, "stop"), 0);
}

} // namespace
