// The program's parts without a window against simulated arrays in the namespace lab: discovery
// lists every array with its attributes, logins verify credentials and the credential service
// hands them out, failures reach the operator, an array that leaves the LAN leaves the list, a
// pushed password reaches "/Query", and the headless program stops at once during a pass.
#include "tests/tools/CLabTest.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

// Runs a probe script with the login's request time-out shortened for the silent array. LAB
// is the prefix of the lab's namespaces: LAB-hub holds the bridge, whose links a0, a1, ... lead
// to the arrays' namespaces LAB-a0, LAB-a1, ...
std::string ProbeScript(const std::string& probe) {
    return "LAB=$(basename \"$LAB_DIR\" | sed 's/\\.[^.]*$//'); export LAB\n"
           "cat > \"$LAB_DIR/probe\" <<'EOF'\n" +
           probe +
           "EOF\n"
           "orvane-headless-probe --request-timeout-ms 1500 \"$LAB_DIR/probe\"\n";
}

// The service reads one body line.
const std::string kQuery = "sh printf 'x\\n' | curl -s -u alice:pw --data-binary @- "
                           "http://127.0.0.1:51001/Query; echo\n";

std::string Mac(int i) {
    return "02:4f:52:00:00:0" + std::to_string(i);
}

// One "/Query" entry of a generated array.
std::string Entry(int i, const std::string& product, const std::string& password) {
    return "<StorageServer Product=\"" + product + "\" Type=\"SAN\" SystemName=\"array-" +
           std::to_string(i) + "\" MAC=\"" + Mac(i) + "\" IPAddr=\"10.77.1." +
           std::to_string(i + 1) + "\" LoginUserName=\"admin\" LoginPasswd=\"" + password + "\"/>";
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
    const std::vector<std::string> products = {"Z210-R2", "Z240-E", "Y220",
                                               "YE240-X", "W210",   "Z210-R2"};
    std::vector<std::string> expected;
    for (int i = 0; i < 6; ++i) {
        expected.push_back("ROW 10.77.1." + std::to_string(i + 1) + "|array-" + std::to_string(i) +
                           "|" + products[i] + "|1.0." + std::to_string(i) + "|" + Mac(i) + "|No");
    }
    const std::vector<std::string> first = Section(result, "PASS", 0, "ROW");
    EXPECT_EQ(Sorted(first), expected);

    // Three good logins, then what the credential service hands alice.
    const std::vector<std::string> afterLogin = Section(result, "LOGINS", 0, "");
    const std::string query0 = "<StorageServers AdminGroup=\"No\">" +
                               Entry(0, products[0], "secret") + Entry(1, products[1], "secret") +
                               Entry(2, products[2], "secret") + "</StorageServers>";
    EXPECT_NE(std::find(afterLogin.begin(), afterLogin.end(), query0), afterLogin.end())
        << "no /Query answer " << query0;

    // Wrong credentials (one press), then a 404 and a silent array (another): each press's first
    // failure with its box, the silent one in the second press's summary; all "No".
    EXPECT_EQ(Sorted(Section(result, "LOGINS", 0, "BOX")),
              (std::vector<std::string>{"BOX 10.77.1.4|Authentication failed|2",
                                        "BOX 10.77.1.5|Not Support|1",
                                        "BOX OrvaneSrv|The login also failed on 1 other array (IP "
                                        "address (MAC address): reason):"}));
    const std::string summarised =
        "10.77.1.6 (" + Mac(5) + "): Internet Exception. (ErrorCode: 28)|2";
    EXPECT_NE(std::find(result.lines.begin(), result.lines.end(), summarised), result.lines.end())
        << summarised;
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
    const std::string query1 = "<StorageServers AdminGroup=\"No\">" + Entry(0, products[0], "n3w") +
                               Entry(1, products[1], "secret") + Entry(2, products[2], "secret") +
                               "</StorageServers>";
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
    EXPECT_EQ(afterLeave[0], "<StorageServers AdminGroup=\"No\">" + Entry(0, products[0], "n3w") +
                                 Entry(2, products[2], "secret") + "</StorageServers>");
    const std::vector<std::string> fourth = Section(result, "PASS", 3, "ROW");
    ASSERT_EQ(fourth.size(), 5u);
    EXPECT_EQ(fourth.back(), "ROW 10.77.1.2|array-1|" + products[1] + "|1.0.1|" + Mac(1) + "|Yes");
}

TEST_F(HeadlessLab, TheHeadlessProgramStopsAtOnceWhileAPassWaits) {
    // A schedule that keeps the search waiting for many seconds.
    const std::string slowSchedule = "net.slp.multicastTimeouts = 4000,4000,4000\n"
                                     "net.slp.multicastMaximumWait = 12000\n";
    const LabResult result = Run("--arrays 3",
                                 "export XDG_CONFIG_HOME=\"$LAB_DIR/config\"\n"
                                 "OrvaneSrv 2>\"$LAB_DIR/err\" &\n"
                                 "pid=$!\n"
                                 "sleep 1\n"
                                 "start=$(date +%s%N)\n"
                                 "kill -TERM $pid\n"
                                 "wait $pid; echo \"exit $?\"\n"
                                 "echo \"ms $((($(date +%s%N) - start) / 1000000))\"\n"
                                 "grep -c -e ERROR -e 'runtime error' \"$LAB_DIR/err\" || true\n",
                                 {}, slowSchedule);
    ASSERT_EQ(result.status, 0);
    ASSERT_EQ(result.lines.size(), 3u);
    EXPECT_EQ(result.lines[0], "exit 0");
    EXPECT_LT(std::stoi(result.lines[1].substr(3)), 2000) << result.lines[1];
    EXPECT_EQ(result.lines[2], "0") << "sanitizer reports on standard error";
}

} // namespace
