// The program's parts without a window against simulated arrays in the namespace lab: discovery
// lists every array with its attributes, logins verify credentials and the credential service
// hands them out, failures reach the operator, an array that leaves the LAN leaves the list, a
// pushed password reaches "/Query", the headless program stops at once during a pass, the
// headless program is managed with orvanectl alone, and the arrays' authorizations it remembers
// across restarts come back only where the arrays confirm them.
#include "tests/tools/CLabArray.h"
#include "tests/tools/CLabTest.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// Runs a probe script with the login's request time-out shortened for the silent array. LAB
// is the prefix of the lab's namespaces: LAB-hub holds the bridge, whose links a0, a1, ... lead
// to the arrays' namespaces LAB-a0, LAB-a1, ...
std::string ProbeScript(const std::string& probe, const std::string& redirect = "") {
    return "LAB=$(basename \"$LAB_DIR\" | sed 's/\\.[^.]*$//'); export LAB\n"
           "cat > \"$LAB_DIR/probe\" <<'EOF'\n" +
           probe +
           "EOF\n"
           "timeout 300 orvane-headless-probe --request-timeout-ms 1500 \"$LAB_DIR/probe\" " +
           redirect + "\n";
}

// The service reads one body line.
const std::string kQuery = "sh printf 'x\\n' | curl -s -u alice:pw --data-binary @- "
                           "http://127.0.0.1:51001/Query; echo\n";

std::string Mac(int i) {
    return CLabArray::Generated(i).mac;
}

// One "/Query" entry of a generated array.
std::string Entry(int i, const std::string& password) {
    return CLabArray::Generated(i).Entry(password);
}

// The lines of one section of the output: from the nth line starting with marker on, the lines
// that start with prefix, up to the next marker.
std::vector<std::string> Section(const LabResult& result, const std::string& marker, int nth,
                                 const std::string& prefix) {
    std::vector<std::string> lines;
    int seen = -1;
    for (const std::string& line : result.lines) {
        if (line.rfind(marker, 0) == 0) {
            ++seen;
            if (seen > nth) {
                break;
            }
            continue;
        }
        if (seen == nth && line.rfind(prefix, 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

using HeadlessLab = CLabTest;

// The Auth column of each row of one section, by address.
std::map<std::string, std::string> AuthByAddress(const std::vector<std::string>& rows) {
    std::map<std::string, std::string> auth;
    for (const std::string& row : rows) {
        const std::size_t start = row.find(' ') + 1;
        auth[row.substr(start, row.find('|') - start)] = row.substr(row.rfind('|') + 1);
    }
    return auth;
}

// The search's window is about a second; an attribute query may take 3 s, as in the program.
const std::string kSlowQueries = std::string(kShortSchedule) +
                                 "net.slp.unicastTimeouts = 500,1000,1500\n"
                                 "net.slp.unicastMaximumWait = 3000\n";

TEST_F(HeadlessLab, DiscoveryLoginsAndTheCredentialServiceEndToEnd) {
    const std::string probe =
        "group lab " + Mac(0) + " " + Mac(1) + " " + Mac(2) + " " + Mac(3) +
        "\nuser alice pw lab\nservice\npass\nrows\n"
        "login admin secret 10.77.1.1 10.77.1.2 10.77.1.3\nwait-logins\n" +
        kQuery +
        "login admin wrong 10.77.1.4\nlogin admin any 10.77.1.5 10.77.1.6\nwait-logins\n"
        "pass\nrows\n"
        "sh ip netns exec $LAB-a0 orvane-array-sim --address 10.77.1.1 --mac " +
        Mac(0) + " --push-password n3w --manager 10.77.0.1 >/dev/null\n" + kQuery +
        "sh ip -n $LAB-hub link set a1 down; ip -n $LAB-hub link set a3 down\npass\nrows\n" +
        kQuery + "sh ip -n $LAB-hub link set a1 up\npass\nrows\n";
    const LabResult result =
        Run("--arrays 6", ProbeScript(probe),
            {"--admin-password secret", "--admin-password secret", "--admin-password secret", "",
             "--http-mode 404", "--http-mode silent"});
    ASSERT_EQ(result.status, 0);

    // Every array with its attributes, in the order the answers came.
    std::vector<std::string> expected;
    for (int i = 0; i < 6; ++i) {
        expected.push_back("ROW " + CLabArray::Generated(i).Row("No"));
    }
    const std::vector<std::string> first = Section(result, "PASS", 0, "ROW");
    EXPECT_EQ(Sorted(first), expected);

    // Three good logins, then what the credential service hands alice.
    const std::vector<std::string> afterLogin = Section(result, "LOGINS", 0, "");
    const std::string query0 = "<StorageServers AdminGroup=\"No\">" + Entry(0, "secret") +
                               Entry(1, "secret") + Entry(2, "secret") + "</StorageServers>";
    EXPECT_NE(std::find(afterLogin.begin(), afterLogin.end(), query0), afterLogin.end())
        << "no /Query answer " << query0;

    // Wrong credentials (one press), then a 404 and a silent array (another): the lone failure
    // with the array's own box, the second press with one summary in plain words; all "No".
    EXPECT_EQ(Sorted(Section(result, "LOGINS", 0, "BOX")),
              (std::vector<std::string>{"BOX 10.77.1.4|Authentication failed|2",
                                        "BOX OrvaneSrv|Logged in to 0 of 2 arrays."}));
    for (const std::string summarised :
         {"10.77.1.5: answered HTTP 404", "10.77.1.6: no answer within 2 s|2"}) {
        EXPECT_NE(std::find(result.lines.begin(), result.lines.end(), summarised),
                  result.lines.end())
            << summarised;
    }
    const std::vector<std::string> second = Section(result, "PASS", 1, "ROW");
    ASSERT_EQ(second.size(), 6u);
    for (std::size_t row = 0; row < 6; ++row) {
        // Rows keep their places; the Auth column says who was logged in to.
        EXPECT_EQ(second[row].substr(0, second[row].rfind('|')),
                  first[row].substr(0, first[row].rfind('|')));
        const bool loggedIn = second[row].find(Mac(0)) != std::string::npos ||
                              second[row].find(Mac(1)) != std::string::npos ||
                              second[row].find(Mac(2)) != std::string::npos;
        EXPECT_EQ(second[row].substr(second[row].rfind('|')), loggedIn ? "|Yes" : "|No");
    }

    // The pushed password reaches /Query.
    const std::string query1 = "<StorageServers AdminGroup=\"No\">" + Entry(0, "n3w") +
                               Entry(1, "secret") + Entry(2, "secret") + "</StorageServers>";
    const std::vector<std::string> afterPush = Section(result, "PASS", 1, "<");
    ASSERT_FALSE(afterPush.empty());
    EXPECT_EQ(afterPush[0], query1);

    // Two arrays leave the LAN: their rows go after the next pass, and the logged-in one leaves
    // /Query until it is back.
    const std::vector<std::string> third = Section(result, "PASS", 2, "ROW");
    EXPECT_EQ(third.size(), 4u);
    for (const std::string& row : third) {
        EXPECT_EQ(row.find(Mac(1)), std::string::npos) << row;
        EXPECT_EQ(row.find(Mac(3)), std::string::npos) << row;
    }
    const std::vector<std::string> afterLeave = Section(result, "PASS", 2, "<");
    ASSERT_FALSE(afterLeave.empty());
    EXPECT_EQ(afterLeave[0], "<StorageServers AdminGroup=\"No\">" + Entry(0, "n3w") +
                                 Entry(2, "secret") + "</StorageServers>");
    const std::vector<std::string> fourth = Section(result, "PASS", 3, "ROW");
    ASSERT_EQ(fourth.size(), 5u);
    EXPECT_EQ(fourth.back(), "ROW " + CLabArray::Generated(1).Row("Yes"));
}

TEST_F(HeadlessLab, TheHeadlessProgramStopsAtOnceWhileAPassWaits) {
    // A schedule that keeps the search waiting twenty seconds between transmissions: a stop that
    // waited for the pass would take ten times the bound below.
    const std::string slowSchedule = "net.slp.multicastTimeouts = 20000,20000,20000\n"
                                     "net.slp.multicastMaximumWait = 60000\n";
    constexpr int kStopBoundMs = 2000;
    const LabResult result =
        Run("--arrays 3 --sim-options --trace",
            "export XDG_CONFIG_HOME=\"$LAB_DIR/config\"\n"
            "OrvaneSrv 2>\"$LAB_DIR/err\" &\n"
            "pid=$!\n"
            // The pass is under way once the arrays have heard its first search.
            "heard() { cat \"$LAB_DIR\"/sim.*.log | grep -c '^multicast SrvRqst "
            "service:raid.004417$'; }\n"
            "for i in $(seq 600); do [ \"$(heard)\" -ge 3 ] && break; sleep 0.05; done\n"
            "echo \"heard $(heard)\"\n"
            "start=$(date +%s%N)\n"
            "kill -TERM $pid\n"
            "wait $pid; echo \"exit $?\"\n"
            "echo \"ms $((($(date +%s%N) - start) / 1000000))\"\n"
            "grep -c -e ERROR -e 'runtime error' \"$LAB_DIR/err\" || true\n",
            {}, slowSchedule);
    ASSERT_EQ(result.status, 0);
    ASSERT_EQ(result.lines.size(), 4u);
    EXPECT_EQ(result.lines[0], "heard 3");
    EXPECT_EQ(result.lines[1], "exit 0");
    EXPECT_LT(std::stoi(result.lines[2].substr(3)), kStopBoundMs) << result.lines[2];
    EXPECT_EQ(result.lines[3], "0") << "sanitizer reports on standard error";
}

TEST_F(HeadlessLab, RespondersThatNeverAnswerAttributeRequestsCostOnlyTheirOwnQueries) {
    // Arrays 1 and 3 answer searches and never attribute requests.
    const std::string probe = "group lab " + Mac(0) + " " + Mac(2) +
                              "\nuser alice pw lab\nservice\npass\n"
                              "login admin secret 10.77.1.1 10.77.1.3\nwait-logins\n"
                              "pass\nrows\npass\nrows\n" +
                              kQuery;
    const LabResult result = Run("--arrays 6", ProbeScript(probe),
                                 {"--admin-password secret", "--slp-mode no-attrs",
                                  "--admin-password secret", "--slp-mode no-attrs"},
                                 kSlowQueries);
    ASSERT_EQ(result.status, 0);
    const std::map<std::string, std::string> expected = {
        {"10.77.1.1", "Yes"}, {"10.77.1.3", "Yes"}, {"10.77.1.5", "No"}, {"10.77.1.6", "No"}};
    for (int pass = 1; pass <= 2; ++pass) {
        EXPECT_EQ(AuthByAddress(Section(result, "PASS", pass, "ROW")), expected) << "pass " << pass;
    }
    const std::vector<std::string> query = Section(result, "PASS", 2, "<");
    ASSERT_FALSE(query.empty());
    EXPECT_EQ(query[0], "<StorageServers AdminGroup=\"No\">" + Entry(0, "secret") +
                            Entry(2, "secret") + "</StorageServers>");
}

TEST_F(HeadlessLab, AFloodOfUrlsWhoseHostsNeverAnswerEndsThePassWithinItsBound) {
    // Array 1 answers every search with its own URL and 1,700 more of hosts that do not exist.
    const LabResult result = Run("--arrays 3", ProbeScript("pass\nrows\n", "2>&1"),
                                 {"", "--slp-mode flood"}, kSlowQueries);
    ASSERT_EQ(result.status, 0);
    std::vector<std::string> pass;
    std::copy_if(result.lines.begin(), result.lines.end(), std::back_inserter(pass),
                 [](const std::string& line) { return line.rfind("PASS", 0) == 0; });
    ASSERT_EQ(pass.size(), 1u);
    const int ms = std::stoi(pass[0].substr(pass[0].find("ms=") + 3));
    EXPECT_LT(ms, 61000) << pass[0];
    EXPECT_EQ(AuthByAddress(Section(result, "PASS", 0, "ROW")),
              (std::map<std::string, std::string>{
                  {"10.77.1.1", "No"}, {"10.77.1.2", "No"}, {"10.77.1.3", "No"}}));
}

TEST_F(HeadlessLab, ForgedDirectoryAgentsDoNotEmptyTheFleet) {
    // The lab's agent is replaced by a forged one that answers every search with nothing: it is
    // not looked for by default. With discovery turned on, one whose advert names an array's
    // address is not believed either.
    const std::string forged =
        "forge() {\n"
        "    [ -n \"${pid:-}\" ] && kill $pid && wait $pid\n"
        "    rm -f \"$LAB_DIR/forged\"\n"
        "    ip netns exec \"$LAB_DA_NS\" \"$LAB_SIM\" --directory-agent --address 10.77.0.2 "
        "--forged-advert $1 --ready-file \"$LAB_DIR/forged\" --trace >\"$LAB_DIR/trace-$1\" &\n"
        "    pid=$!\n"
        "    for i in $(seq 100); do [ -e \"$LAB_DIR/forged\" ] && break; sleep 0.1; done\n"
        "}\n"
        "kill $LAB_DA_PID\n"
        "for i in $(seq 100); do kill -0 $LAB_DA_PID 2>/dev/null || break; sleep 0.1; done\n"
        "forge 10.77.0.2\n"
        // The forged agent is there: with discovery on, the library believes one that names
        // itself, and finds nothing.
        "echo \"FOUND $(printf 'net.slp.activeDADetection = true\\n' >\"$LAB_DIR/on.conf\"; "
        "OpenSLPConfig=\"$LAB_DIR/on.conf\" orvane-slpfind findsrvs service:raid.004417 | wc "
        "-l)\"\n" +
        ProbeScript("pass\nrows\n") +
        "forge 10.77.1.1\n"
        "echo 'net.slp.activeDADetection = true' >>\"$OpenSLPConfig\"\n"
        "timeout 300 orvane-headless-probe \"$LAB_DIR/probe\"\n"
        "kill $pid; wait $pid\n"
        "echo \"ASKED $(grep -c directory-agent \"$LAB_DIR/trace-10.77.1.1\")\"\n";
    const LabResult result = Run("--arrays 3 --da", forged);
    ASSERT_EQ(result.status, 0);
    const std::map<std::string, std::string> fleet = {
        {"10.77.1.1", "No"}, {"10.77.1.2", "No"}, {"10.77.1.3", "No"}};
    EXPECT_EQ(AuthByAddress(Section(result, "PASS", 0, "ROW")), fleet) << "discovery off";
    EXPECT_EQ(AuthByAddress(Section(result, "PASS", 1, "ROW")), fleet) << "discovery on";
    EXPECT_NE(std::find(result.lines.begin(), result.lines.end(), "FOUND 0"), result.lines.end());
    const auto asked =
        std::find_if(result.lines.begin(), result.lines.end(),
                     [](const std::string& line) { return line.rfind("ASKED ", 0) == 0; });
    ASSERT_NE(asked, result.lines.end());
    EXPECT_GE(std::atoi(asked->c_str() + 6), 1)
        << "the program did not look for agents with discovery on";
}

// The headless program in the lab's manager namespace, managed with orvanectl: start() starts it
// and waits for its control socket.
const std::string kHeadless = R"sh(
export XDG_CONFIG_HOME="$LAB_DIR/config" XDG_STATE_HOME="$LAB_DIR/state"
mkdir -p "$LAB_DIR/www"
start() {
    OrvaneSrv --headless --www "$LAB_DIR/www" 2>>"$LAB_DIR/err" &
    pid=$!
    for i in $(seq 200); do orvanectl status >/dev/null 2>&1 && break; sleep 0.05; done
}
query() {
    printf 'x\n' | ip netns exec "$LAB_CLIENT_NS" curl -s -u alice:pw --data-binary @- \
        http://10.77.0.1:51001/Query; echo
}
)sh";

// A host that announces a logged-in array's MAC from its own address, and one that announces a
// supported product under a MAC of its own (with a name that would drive a terminal), both
// accepting any login on their port 51000: the operator's fleet-wide login sends neither a
// password, the array keeps its row, its address and what "/Query" hands out, the thief's push
// is refused, and only a login that names the new host's MAC reaches it.
TEST_F(HeadlessLab, HostsAnnouncingAnArraysMacOrANewOneGetNoPassword) {
    const std::string macs = Mac(0) + " " + Mac(1) + " " + Mac(2);
    const std::string script = kHeadless + "MACS='" + macs + "'\n" + R"sh(
NEW=02:66:00:00:00:01
start
orvanectl refresh >/dev/null
printf 'secret\n' | orvanectl login $MACS --user admin --password-stdin >/dev/null; echo "named $?"
printf 'pw\n' | orvanectl user add alice --password-stdin >/dev/null
orvanectl group add lab --members alice --access "$(echo $MACS | tr ' ' ,)" >/dev/null
query >"$LAB_DIR/before"
impostor() { # namespace, address, trace file, options
    ns=$1 addr=$2 trace=$3; shift 3
    ip netns exec "$ns" "$LAB_SIM" --address "$addr" --product Z210-R2 --version 1.0.0 \
        --vendor 'Tarvik Networks' --type SAN --model Evask --admin-password secret --trace \
        --ready-file "$trace.ready" "$@" >"$trace" 2>&1 &
    for i in $(seq 200); do [ -e "$trace.ready" ] && break; sleep 0.05; done
}
impostor "$LAB_CLIENT2_NS" "$LAB_CLIENT2_ADDR" "$LAB_DIR/thief" --mac "${MACS%% *}" --hostname array-0
impostor "$LAB_CLIENT3_NS" "$LAB_CLIENT3_ADDR" "$LAB_DIR/new" --mac $NEW \
    --hostname "$(printf 'evil\r10.77.1.1 \033]0;x\007')"
orvanectl refresh >/dev/null; orvanectl refresh >/dev/null
orvanectl servers | grep -c " also at $LAB_CLIENT2_ADDR\$"
orvanectl status --json | grep -o '"arraysInConflict": [0-9]*'
orvanectl servers | LC_ALL=C grep -c '[[:cntrl:]]'
orvanectl servers | grep -c 'evil\\x0D10.77.1.1 \\x1B]0;x\\x07'
printf 'secret\n' | orvanectl login --all --user admin --password-stdin >"$LAB_DIR/all"; echo "all $?"
grep -c ' Yes$' "$LAB_DIR/all"; tail -n 1 "$LAB_DIR/all"
grep -c "  address conflict: $LAB_CLIENT2_ADDR announces it too" "$LAB_DIR/all"
grep -c "^$LAB_CLIENT3_ADDR  *$NEW  *new array: " "$LAB_DIR/all"
echo "thief reached $(grep -c 'http connection' "$LAB_DIR/thief")"
echo "new reached $(grep -c 'http connection' "$LAB_DIR/new")"
ip netns exec "$LAB_CLIENT2_NS" "$LAB_SIM" --address "$LAB_CLIENT2_ADDR" --mac "${MACS%% *}" \
    --push-password evil --manager 10.77.0.1 | grep -o '<ErrCode>[^<]*'
query | cmp -s - "$LAB_DIR/before" && echo "query unchanged"
printf 'secret\n' | orvanectl login $NEW --user admin --password-stdin | head -n 1 | cut -d' ' -f 3-
echo "new reached $(grep -c 'http connection' "$LAB_DIR/new")"
kill -TERM $pid; wait $pid; echo "stop $?"
grep -c '"event":"address-conflict","source":"discovery"' "$XDG_STATE_HOME/OrvaneSrv/audit.log"
grep -c '"event":"login".*"result":"succeeded","array":"new"' "$XDG_STATE_HOME/OrvaneSrv/audit.log"
)sh";
    const LabResult result =
        Run("--arrays 3 --clients 3", script,
            {"--admin-password secret", "--admin-password secret", "--admin-password secret"});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.lines,
              (std::vector<std::string>{
                  "named 0", "1", "\"arraysInConflict\": 1", "0", "1", "all 0", "2",
                  "2 logged in, 0 failed, 2 skipped (1 new, 1 in address conflict, 0 not "
                  "supported)",
                  "1", "1", "thief reached 0", "new reached 0", "<ErrCode>-1", "query unchanged",
                  "02:66:00:00:00:01  Yes", "new reached 1", "stop 0", "1", "4"}));
}

// One host posing as 410 arrays, each URL of its address with another of the fleet's MACs: no
// array loses its address or its credentials, at most four are put in conflict, and the
// fleet-wide login still reaches the others and never the poser.
TEST_F(HeadlessLab, AHostPosingAsHundredsOfArraysTakesNoneOfThem) {
    std::string macs;
    for (int i = 0; i < 12; ++i) {
        macs += (i == 0 ? "" : ",") + Mac(i);
    }
    const std::string script = kHeadless + "MACS='" + macs + "'\n" + R"sh(
start
orvanectl refresh >/dev/null
printf 'pw\n' | orvanectl user add alice --password-stdin >/dev/null
orvanectl group add lab --members alice --access "$MACS" >/dev/null
printf 'secret\n' | orvanectl login --all --user admin --password-stdin | tail -n 1
query >"$LAB_DIR/before"
ip netns exec "$LAB_CLIENT2_NS" "$LAB_SIM" --address "$LAB_CLIENT2_ADDR" --slp-mode many-macs \
    --mac 02:66:00:00:00:02 --type SAN --vendor 'Tarvik Networks' --model Evask --trace \
    --ready-file "$LAB_DIR/poser.ready" >"$LAB_DIR/poser" 2>&1 &
for i in $(seq 200); do [ -e "$LAB_DIR/poser.ready" ] && break; sleep 0.05; done
orvanectl refresh >/dev/null; orvanectl refresh >/dev/null
# Four MACs a pass: rows of its own, and arrays in conflict, which the passes since add up.
at=$(orvanectl servers | awk -v poser="$LAB_CLIENT2_ADDR" '$1 == poser' | wc -l)
conflicts=$(orvanectl servers | grep -c " also at $LAB_CLIENT2_ADDR\$")
[ "$at" -le 4 ] && [ $((at + conflicts)) -le 8 ] && echo "heard four MACs a pass"
grep -c "discovery ignores .* MAC addresses announced from $LAB_CLIENT2_ADDR beyond its first 4" \
    "$LAB_DIR/err" | sed 's/^[1-9][0-9]*$/logged/'
query | cmp -s - "$LAB_DIR/before" && echo "query unchanged"
printf 'secret\n' | orvanectl login --all --user admin --password-stdin >"$LAB_DIR/all"
yes=$(grep -c ' Yes$' "$LAB_DIR/all")
[ $((yes + $(grep -c '  address conflict: ' "$LAB_DIR/all"))) -eq 12 ] && [ "$yes" -ge 4 ] &&
    echo "the fleet logged in again, the arrays in conflict listed"
echo "poser reached $(grep -c 'http connection' "$LAB_DIR/poser")"
kill -TERM $pid; wait $pid; echo "stop $?"
)sh";
    std::vector<std::string> extra(12, "--admin-password secret");
    const LabResult result = Run("--arrays 12 --per-ns 4 --clients 2", script, extra);
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.lines,
              (std::vector<std::string>{"12 logged in, 0 failed, 0 skipped",
                                        "heard four MACs a pass", "logged", "query unchanged",
                                        "the fleet logged in again, the arrays in conflict listed",
                                        "poser reached 0", "stop 0"}));
}

// The program as a service: headless, managed only with orvanectl, and asked by a client
// computer of the LAN; a login at once after a start waits for the first pass, a login file
// gives arrays their own passwords, and after a restart the fleet-wide login reaches the arrays
// a group gives access to.
TEST_F(HeadlessLab, TheServiceManagedWithOrvanectl) {
    const std::string script = kHeadless + R"sh(
rows() { orvanectl servers | tail -n +2 | awk '{print "ROW", $1, $NF}' | sort; }
OrvaneSrv --help >/dev/null; echo "help $?"
OrvaneSrv --version >/dev/null; echo "version $?"
[ -e "$XDG_CONFIG_HOME" ] && echo "opened the store"
orvanectl status 2>&1; echo "not running $?"
start
orvanectl refresh >/dev/null; echo "refresh $?"
rows
printf 'secret\n' | orvanectl login --all --user admin --password-stdin | tail -n 1
orvanectl servers --json | grep -o '"mac": "[^"]*"' | cut -d'"' -f 4 >"$LAB_DIR/macs"
printf 'secret\n' | orvanectl login --from "$LAB_DIR/macs" --user admin --password-stdin | sort
echo "login $?"
: >"$LAB_DIR/empty"
for f in "$LAB_DIR/none" "$LAB_DIR/empty"; do
    orvanectl login --from "$f" --user admin </dev/null 2>/dev/null; echo "from $?"
done
orvanectl login --user admin --from 2>/dev/null; echo "from $?"
printf '%s,admin,secret\n%s, admin ,"wr,ong"\nx,admin\n' )sh" +
                               Mac(0) + " " + Mac(1) + R"sh( |
    orvanectl login --from - --password-stdin 2>&1; echo "own $?"
echo )sh" + Mac(2) + R"sh( | orvanectl login --from - --user admin --password-stdin 2>/dev/null
echo "from - $?"
rows
printf 'wrong\n' | orvanectl login 02:4f:52:00:00:00 --user admin --password-stdin; echo "bad login $?"
printf 'pw\n' | orvanectl user add alice --password-stdin; echo "user $?"
orvanectl group add lab --members alice --access 02:4f:52:00:00:00,02:4f:52:00:00:01
echo "group $?"
printf 'x\n' | ip netns exec "$LAB_CLIENT_NS" curl -s -u alice:pw --data-binary @- \
    http://10.77.0.1:51001/Query | grep -o 'MAC="[^"]*"[^/]*LoginPasswd="[^"]*"'
orvanectl export "$LAB_DIR/directory" >/dev/null; echo "export $?"
orvanectl users >"$LAB_DIR/users.before"; orvanectl groups >"$LAB_DIR/groups.before"
# Another user runs a copy from a folder of its reach: the checkout may be its owner's alone.
other=$(mktemp -d /tmp/orvane-other-uid.XXXXXX); chmod 0755 "$other"
install -m 0755 "$(command -v orvanectl)" "$other/orvanectl"
setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=+dac_override \
    --ambient-caps=+dac_override "$other/orvanectl" status 2>/dev/null; echo "other uid $?"
rm -rf "$other"
grep -c 'control connection from uid 65534 .* refused' "$LAB_DIR/err"
kill -TERM $pid; wait $pid; echo "stop $?"
rm -r "$XDG_CONFIG_HOME/OrvaneSrv"
start
orvanectl import "$LAB_DIR/directory.ovx" >/dev/null; echo "import $?"
orvanectl users | cmp -s - "$LAB_DIR/users.before" && echo "users back"
orvanectl groups | cmp -s - "$LAB_DIR/groups.before" && echo "groups back"
printf 'secret\n' | orvanectl login --all --user admin --password-stdin | grep -c ' Yes$'
kill -TERM $pid; wait $pid; echo "stop $?"
)sh";
    const LabResult result =
        Run("--arrays 3 --client", script,
            {"--admin-password secret", "--admin-password secret", "--admin-password secret"});
    ASSERT_EQ(result.status, 0);
    std::vector<std::string> expected = {"help 0", "version 0",
                                         "OrvaneSrv is not running for this user", "not running 3",
                                         "refresh 0"};
    for (const std::string auth : {"No", "Yes"}) {
        for (int i = 0; i < 3; ++i) {
            expected.push_back("ROW 10.77.1." + std::to_string(i + 1) + " " + auth);
        }
        if (auth == "No") {
            expected.push_back("0 logged in, 0 failed, 3 skipped (3 new, 0 in address conflict, "
                               "0 not supported)");
            for (int i = 0; i < 3; ++i) {
                expected.push_back("10.77.1." + std::to_string(i + 1) + "  " + Mac(i) + "  Yes");
            }
            expected.push_back("3 logged in, 0 failed, 0 skipped");
            expected.insert(
                expected.end(),
                {"login 0", "from 1", "from 1", "from 2",
                 "standard input:3: expected MAC,user,password or a MAC alone, found 2 fields",
                 "10.77.1.1  " + Mac(0) + "  Yes",
                 "10.77.1.2  " + Mac(1) + "  wrong user name or password",
                 "1 logged in, 1 failed, 0 skipped", "own 1", "from - 2"});
        }
    }
    expected.insert(expected.end(),
                    {"10.77.1.1  " + Mac(0) + "  wrong user name or password",
                     "0 logged in, 1 failed, 0 skipped", "bad login 1", "user 0", "group 0",
                     "MAC=\"" + Mac(0) +
                         "\" IPAddr=\"10.77.1.1\" LoginUserName=\"admin\" "
                         "LoginPasswd=\"secret\"",
                     "MAC=\"" + Mac(1) +
                         "\" IPAddr=\"10.77.1.2\" LoginUserName=\"admin\" "
                         "LoginPasswd=\"secret\"",
                     "export 0", "other uid 1", "1", "stop 0", "import 0", "users back",
                     "groups back", "2", "stop 0"});
    EXPECT_EQ(result.lines, expected);
}

} // namespace

namespace {

// One fleet-wide "orvanectl login" to 44 arrays that hold each answer back 1.5 s, then, while it
// fills the pool, four one-array logins to arrays that hold theirs back 0.5 s: all share the
// program's one pool, so that at most 32 connections to the arrays' login port are ever open or
// being opened, and the small logins end before the fleet's, not after its queue.
TEST_F(HeadlessLab, LoginsFromSeveralCallersShareOnePoolOf32AndTakeTurns) {
    constexpr int kSlow = 44;
    constexpr int kSingles = 4;
    std::string fleet;
    for (int i = 0; i < kSlow; ++i) {
        fleet += " " + Mac(i);
    }
    std::string singles;
    for (int i = kSlow; i < kSlow + kSingles; ++i) {
        singles += " " + Mac(i);
    }
    const std::string script = kHeadless + "FLEET='" + fleet + "'\nSINGLES='" + singles + "'\n" +
                               R"sh(
start
orvanectl refresh >/dev/null
orvanectl servers | tail -n +2 | wc -l
# Connections of this namespace to port 51000 (C738) established or being opened, sampled
# until told to stop; the most seen in two samples in a row goes to a file. The file is not read
# in one instant: a login that ends while another starts may show both in one sample, but every
# login lasts far longer than two samples, so a real excess shows in both.
watch() {
    most=0 last=0
    while [ ! -e "$LAB_DIR/stop" ]; do
        n=$(awk '$3 ~ /:C738$/ && ($4 == "01" || $4 == "02")' /proc/net/tcp | wc -l)
        both=$(( n < last ? n : last )); last=$n
        if [ "$both" -gt "$most" ]; then most=$both; echo $most >"$LAB_DIR/most"; fi
    done
}
echo 0 >"$LAB_DIR/most"
watch & watcher=$!
login() { printf 'secret\n' | orvanectl login $1 --user admin --password-stdin; }
(login "$FLEET" >"$LAB_DIR/fleet"; echo fleet >>"$LAB_DIR/order") & fleetpid=$!
for i in $(seq 400); do [ "$(cat "$LAB_DIR/most")" -ge 32 ] && break; sleep 0.02; done
pids=
for mac in $SINGLES; do
    (login $mac >"$LAB_DIR/one.$mac"; echo single >>"$LAB_DIR/order") & pids="$pids $!"
done
wait $fleetpid $pids
touch "$LAB_DIR/stop"; wait $watcher
echo "most $(cat "$LAB_DIR/most")"
cat "$LAB_DIR/order"
cat "$LAB_DIR/fleet" "$LAB_DIR"/one.* | grep -c '  Yes$'
kill -TERM $pid; wait $pid; echo "stop $?"
grep -c '"event":"login","source":"orvanectl".*"result":"succeeded"' "$XDG_STATE_HOME/OrvaneSrv/audit.log"
)sh";
    std::vector<std::string> extra(kSlow, "--admin-password secret --http-delay-ms 1500");
    extra.resize(kSlow + kSingles, "--admin-password secret --http-delay-ms 500");
    const LabResult result =
        Run("--arrays " + std::to_string(kSlow + kSingles) + " --per-ns 12", script, extra);
    ASSERT_EQ(result.status, 0);
    const std::string total = std::to_string(kSlow + kSingles);
    EXPECT_EQ(result.lines,
              (std::vector<std::string>{total, "most 32", "single", "single", "single", "single",
                                        "fleet", total, "stop 0", total}));
}

} // namespace

namespace {

// The lines "CHECK name value" of a script, by name.
std::map<std::string, std::string> Checks(const LabResult& result) {
    std::map<std::string, std::string> checks;
    for (const std::string& line : result.lines) {
        if (line.rfind("CHECK ", 0) == 0) {
            const std::size_t value = line.find(' ', 6);
            checks[line.substr(6, value - 6)] =
                value == std::string::npos ? "" : line.substr(value + 1);
        }
    }
    return checks;
}

// Whether bytes hold text as UTF-8 or as UTF-16LE (the arrays' passwords are ASCII here).
bool Holds(const std::string& bytes, const std::string& text) {
    std::string utf16;
    for (const char c : text) {
        utf16 += c;
        utf16 += '\0';
    }
    return bytes.find(text) != std::string::npos || bytes.find(utf16) != std::string::npos;
}

std::string FileBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The headless program's runs against 50 arrays, remembering their authorizations in the sealed
// file. settle waits until nothing is being verified and $1 authorizations still wait for their
// array to be sighted at the remembered address.
const std::string kRemembering = R"sh(
LAB=$(basename "$LAB_DIR" | sed 's/\.[^.]*$//')
OUT=$(dirname "$0")
KEY="$LAB_DIR/seal.key"
SEALED="$XDG_CONFIG_HOME/OrvaneSrv/authorizations.sealed"
FLEET_PW=fleet-secret-42
PASSPHRASE='a passphrase for the lab'
check() { name=$1; shift; echo "CHECK $name $*"; }
mac() { echo $MACS | cut -d' ' -f $(($1 + 1)); }
srv() {
    OrvaneSrv --headless --www "$LAB_DIR/www" "$@" 2>>"$LAB_DIR/err" &
    pid=$!
    for i in $(seq 200); do orvanectl status >/dev/null 2>&1 && break; sleep 0.05; done
    orvanectl refresh >/dev/null
}
stops=
stop() { kill -TERM $pid; wait $pid; stops="$stops $?"; }
field() {
    orvanectl status --json | grep -oE "\"$1\": (\"[^\"]*\"|\{[^}]*\}|[^,}]*)" | head -n 1 |
        cut -d' ' -f 2-
}
settle() {
    for i in $(seq 480); do
        [ "$(field rememberedVerifying)" = 0 ] && [ "$(field rememberedWaiting)" = "$1" ] && return
        sleep 0.25
    done
    echo "settle timed out: $(orvanectl status --json | tr -d '\n')"
}
listed() { query | grep -o '<StorageServer ' | wc -l; }
handed() { query | grep -o "MAC=\"$(mac $1)\"" | wc -l; }
login_fleet() {
    printf '%s\n' "$FLEET_PW" | orvanectl login --all --user admin --password-stdin | tail -n 1
    # The arrays with passwords of their own, from one login file.
    for i in $OWN; do printf '%s,admin,pass-%s\n' "$(mac $i)" $i; done >"$LAB_DIR/own.csv"
    orvanectl login --from "$LAB_DIR/own.csv" | tail -n 1
}

# Run 1, with a key file: the fleet logged in to, most with one password, some with their own.
orvanectl seal-key new "$KEY" >/dev/null; check key-written $?
srv --seal-key "$KEY"
printf 'pw\n' | orvanectl user add alice --password-stdin >/dev/null
orvanectl group add lab --members alice --access "$(echo $MACS | tr ' ' ,)" >/dev/null
check logins $(login_fleet)
check listed-before-restart $(listed)
stop
cp "$SEALED" "$OUT/sealed.key-file"

# Run 2, the same key: every array back without a login.
srv --seal-key "$KEY"
settle 0
check key-file-remembered $(field remembered) $(field rememberedVerified)
check key-file-listed $(listed)
check key-file-logins $(grep -c '"event":"login","source":"remembered".*"result":"succeeded"' \
    "$XDG_STATE_HOME/OrvaneSrv/audit.log")
stop

# Between runs, array 5 gets another password and array 6 another address.
for p in $(ip netns pids "$LAB-a0"); do kill $p; done
for i in $(seq 200); do [ -z "$(ip netns pids "$LAB-a0")" ] && break; sleep 0.05; done
awk 'NR == 6 { $0 = $0 " --admin-password changed-5" }
     NR == 7 { $0 = $0 " --address 10.77.1.150" } 1' "$LAB_DIR/arrays.0" >"$LAB_DIR/changed"
ip -n "$LAB-a0" addr add 10.77.1.150/16 dev eth0
ip netns exec "$LAB-a0" "$LAB_SIM" --arrays "$LAB_DIR/changed" --ready-file "$LAB_DIR/changed.ready" \
    >"$LAB_DIR/changed.log" 2>&1 &
for i in $(seq 200); do [ -e "$LAB_DIR/changed.ready" ] && break; sleep 0.05; done

# Run 3: neither changed array is handed out; the refused one is dropped, the moved one waits.
srv --seal-key "$KEY"
settle 1
check changed-listed $(listed) $(handed 5) $(handed 6)
check changed-dropped $(field rememberedDroppedBy)
check changed-waiting $(field rememberedWaiting)
# Then a burst of pushed passwords, killed once the file was replaced during it, with pushes
# still to come.
burst() {
    for round in $(seq 8); do
        for i in $(seq 10 46); do
            [ -e "$LAB_DIR/killed" ] && return
            ip netns exec "$LAB-a$((i / 10))" "$LAB_SIM" --address 10.77.1.$((i + 1)) \
                --mac $(mac $i) --push-password "pushed-$round-$i" --manager 10.77.0.1 \
                >/dev/null 2>&1
            echo $i >>"$LAB_DIR/pushed"
        done
    done
}
inode=$(stat -c %i "$SEALED")
burst & burster=$!
for i in $(seq 400); do
    [ "$(cat "$LAB_DIR/pushed" 2>/dev/null | wc -l)" -ge 20 ] &&
        [ "$(stat -c %i "$SEALED")" != "$inode" ] && break
    sleep 0.02
done
check killed-during-writes $([ "$(stat -c %i "$SEALED")" != "$inode" ] && echo yes) \
    $(kill -0 $burster 2>/dev/null && echo yes)
kill -KILL $pid; wait $pid 2>/dev/null; touch "$LAB_DIR/killed"; wait $burster

# Run 4: the file left by the kill opens.
srv --seal-key "$KEY"
check killed-state $(field sealedFile)
check killed-remembered $(field remembered)
stop

# One byte of the file flipped.
off=$(($(stat -c %s "$SEALED") / 2))
byte=$(od -An -tu1 -j $off -N 1 "$SEALED" | tr -d ' ')
printf "\\$(printf %03o $((byte ^ 1)))" | dd of="$SEALED" bs=1 seek=$off conv=notrunc 2>/dev/null
cp "$SEALED" "$LAB_DIR/tampered"

# Run 5: the tampered file is refused, nothing is handed out, and it is never written over.
srv --seal-key "$KEY"
check tampered-status $(orvanectl status | grep -c 'refused')
check tampered-listed $(listed)
check tampered-login $(printf '%s\n' "$FLEET_PW" |
    orvanectl login $(mac 0) --user admin --password-stdin | grep -c ' Yes$') $(listed)
sleep 2.5 # past the interval of the writes that a change would bring
stop
cmp -s "$SEALED" "$LAB_DIR/tampered"; check tampered-kept $?

# Run 6, without a key file: the file is forgotten, the fleet logged in to again and sealed
# under a passphrase.
srv
orvanectl seal --off >/dev/null; check forgot $?
login_fleet >/dev/null
printf '%s\n' "$PASSPHRASE" | orvanectl seal --passphrase-stdin >/dev/null; check sealed $?
sealed=$(listed)
stop
cp "$SEALED" "$OUT/sealed.passphrase"

# Run 7: nothing until unsealed, but the answer says that remembered arrays are on their way.
srv
printf 'x\n' | ip netns exec "$LAB_CLIENT_NS" curl -s -D "$LAB_DIR/headers" -u alice:pw \
    --data-binary @- http://10.77.0.1:51001/Query >"$LAB_DIR/body"
check passphrase-waiting $(grep -o '<StorageServer ' "$LAB_DIR/body" | wc -l) \
    $(grep -ci '^X-Orvane-Verifying: [1-9]' "$LAB_DIR/headers")
cp "$SEALED" "$LAB_DIR/before-unseal"
printf 'not the passphrase\n' | orvanectl unseal --passphrase-stdin >/dev/null 2>&1
check wrong-unseal $?
cmp -s "$SEALED" "$LAB_DIR/before-unseal"; check wrong-unseal-changed $?
printf '%s\n' "$PASSPHRASE" | orvanectl unseal --passphrase-stdin >/dev/null; check unseal $?
settle 0
after=$(listed)
check passphrase-back $([ "$sealed" -gt 0 ] && [ "$after" = "$sealed" ] && echo yes) $sealed $after
stop
check stops $stops
)sh";

// Fifty arrays, 47 with one password and 3 with their own, through seven runs of the headless
// program: with a key file, with a changed password and a moved array between runs, killed
// during pushed passwords, with a tampered file and under a passphrase.
TEST_F(HeadlessLab, RememberedAuthorizationsComeBackOnlyWhereTheArraysConfirmThem) {
    constexpr int kArrays = 50;
    constexpr int kFirstOwn = 47; // arrays from here keep the lab's own password "pass-<i>"
    std::string macs;
    for (int i = 0; i < kArrays; ++i) {
        macs += (i == 0 ? "" : " ") + Mac(i);
    }
    const std::string script = kHeadless + "MACS='" + macs + "'\nOWN='47 48 49'\n" + kRemembering;
    std::vector<std::string> extra(kFirstOwn, "--admin-password fleet-secret-42");
    extra.resize(kArrays, "");
    const LabResult result = Run("--arrays 50 --per-ns 10 --client", script, extra);
    ASSERT_EQ(result.status, 0);
    std::map<std::string, std::string> checks = Checks(result);
    const std::map<std::string, std::string> expected = {
        {"key-written", "0"},
        {"logins", "47 logged in, 3 failed, 0 skipped 3 logged in, 0 failed, 0 skipped"},
        {"listed-before-restart", "50"},
        // 1. Key file: all 50 remembered, verified and listed again without a login.
        {"key-file-remembered", "50 50"},
        {"key-file-listed", "50"},
        {"key-file-logins", "50"},
        // 2. A changed password and a moved array: 48 listed, neither of the two.
        {"changed-listed", "48 0 0"},
        {"changed-dropped", "{\"the array refused the remembered password\": 1}"},
        {"changed-waiting", "1"},
        // 6. The file that a kill during pushed passwords left opens.
        {"killed-during-writes", "yes yes"},
        {"killed-state", "\"open, sealed with a key file\""},
        // 4. A tampered file: refused, nothing handed out, never written over.
        {"tampered-status", "1"},
        {"tampered-listed", "0"},
        {"tampered-login", "1 1"},
        {"tampered-kept", "0"},
        // 3. Passphrase: nothing but the header before the unseal, the file untouched by a wrong
        // passphrase, the arrays back after the right one.
        {"forgot", "0"},
        {"sealed", "0"},
        {"passphrase-waiting", "0 1"},
        {"wrong-unseal", "1"},
        {"wrong-unseal-changed", "0"},
        {"unseal", "0"},
        {"stops", "0 0 0 0 0 0"},
    };
    for (const auto& [name, value] : expected) {
        EXPECT_EQ(checks[name], value) << name;
    }
    EXPECT_GT(std::atoi(checks["killed-remembered"].c_str()), 0) << "killed-remembered";
    EXPECT_EQ(checks["passphrase-back"].substr(0, 3), "yes") << checks["passphrase-back"];
    for (const std::string& line : result.lines) {
        EXPECT_EQ(line.rfind("settle timed out", 0), std::string::npos) << line;
    }

    // 5. Neither file holds a password's bytes, nor the passphrase's.
    for (const char* file : {"sealed.key-file", "sealed.passphrase"}) {
        const std::string bytes = FileBytes(m_dir / file);
        ASSERT_FALSE(bytes.empty()) << file;
        for (const char* password :
             {"fleet-secret-42", "pass-47", "pass-48", "pass-49", "a passphrase for the lab"}) {
            EXPECT_FALSE(Holds(bytes, password)) << file << " holds " << password;
        }
    }
}

} // namespace
