// End-to-end tests in the namespace lab: orvane-slpfind on our SLP layer against simulated
// arrays (and the program's discovery, through the headless probe, where the two ask
// differently), and the simulators' HTTP side with curl. They need root to build the lab and skip
// without it. Most use a shortened multicast schedule so that each run takes about a second.
#include "platform/slp/CSlpAttrList.h"
#include "tests/tools/CLabArray.h"
#include "tests/tools/CLabTest.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

class Lab : public CLabTest {
protected:
    static std::string Attr(const std::string& discoverLine, const std::string& tag) {
        std::string list = discoverLine.substr(discoverLine.find('\t') + 1);
        return CSlpAttrList::Find(list, tag).value_or("<absent>");
    }

    // Checks "discover" output: count URLs, each with a distinct MAC and all attributes.
    static void ExpectArrays(const LabResult& result, std::size_t count) {
        ASSERT_EQ(result.status, 0);
        ASSERT_EQ(result.lines.size(), count);
        std::set<std::string> macs;
        for (const std::string& line : result.lines) {
            EXPECT_EQ(line.rfind("service:raid.004417://10.77.", 0), 0u) << line;
            for (const char* tag : {"hostname", "vendor", "type", "model", "product", "version"}) {
                EXPECT_NE(Attr(line, tag), "<absent>") << tag << " in " << line;
            }
            macs.insert(Attr(line, "mac"));
        }
        EXPECT_EQ(macs.size(), count);
    }
};

const char* kDiscover = "orvane-slpfind discover service:raid.004417\n";

} // namespace

TEST_F(Lab, OneArrayIsFoundItsLargeAttributesComeOverTcpAndItsPushReachesTheManager) {
    // Attributes too large for a datagram. Another simulator's HTTP port stands in for the
    // management server: it answers 404. Last, a network error shows in the exit status.
    const std::string product(3000, 'P');
    const std::string push =
        "orvane-array-sim --address 10.77.0.1 --mac 02:4f:52:00:00:09 --push-password n3w ";
    const LabResult result =
        Run("--arrays 1",
            "orvane-slpfind findsrvs service:raid.004417 || exit 9\n"
            "orvane-slpfind findattrs service:raid.004417://10.77.1.1\n" +
                push + "--manager 10.77.1.1:51000; echo push=$?\n" + push +
                "--manager 10.77.1.1:9 2>/dev/null; echo closed=$?\n"
                "ip route del 224.0.0.0/4 dev eth0\n"
                "orvane-slpfind findsrvs service:raid.004417; echo unroutable=$?\n",
            {"--product " + product});
    ASSERT_EQ(result.status, 0);
    ASSERT_GE(result.lines.size(), 6u);
    EXPECT_EQ(result.lines[0], "service:raid.004417://10.77.1.1");
    EXPECT_EQ(result.lines[1],
              "(mac=02:4f:52:00:00:00),(hostname=array-0),(vendor=Tarvik Networks),(type=SAN),"
              "(model=Arvo),(product=" +
                  product + "),(version=1.0.0)");
    EXPECT_EQ(result.lines[2].rfind("HTTP/1.1 404", 0), 0u) << result.lines[2];
    const std::vector<std::string> statuses(result.lines.end() - 3, result.lines.end());
    EXPECT_EQ(statuses, (std::vector<std::string>{"push=0", "closed=1", "unroutable=1"}));
}

TEST_F(Lab, FindsFiftyArraysWithTheirAttributes) {
    ExpectArrays(Run("--arrays 50", kDiscover), 50);
}

TEST_F(Lab, EscapedAndOmittedAttributesArriveAsSentAndGarbageHidesNoArray) {
    // The first array's names hold the reserved characters, the second omits two attributes,
    // the third answers with garbage.
    const LabResult result = Run("--arrays 3", kDiscover,
                                 {"--hostname 'rack 1, shelf (2) \\ top' --product 'a=b!<c>~d'",
                                  "--omit type,model", "--slp-mode garbage"});
    ASSERT_EQ(result.status, 0);
    std::vector<std::string> lines = result.lines;
    std::sort(lines.begin(), lines.end());
    ASSERT_EQ(lines.size(), 2u);
    const std::string& escaped = lines[0];
    const std::string& omitting = lines[1];
    ASSERT_EQ(escaped.find("service:raid.004417://10.77.1.1\t"), 0u) << escaped;
    ASSERT_EQ(omitting.find("service:raid.004417://10.77.1.2\t"), 0u) << omitting;
    EXPECT_EQ(Attr(escaped, "hostname"), "rack 1, shelf (2) \\ top");
    EXPECT_EQ(Attr(escaped, "product"), "a=b!<c>~d");
    EXPECT_NE(escaped.find("\\2C"), std::string::npos) << "the comma travels escaped";
    EXPECT_NE(Attr(escaped, "type"), "<absent>");
    EXPECT_EQ(Attr(omitting, "type"), "<absent>");
    EXPECT_EQ(Attr(omitting, "model"), "<absent>");
    for (const std::string& line : lines) {
        EXPECT_NE(Attr(line, "mac"), "<absent>") << line;
        EXPECT_EQ(line.find("192.0.2.1"), std::string::npos) << line;
    }
}

TEST_F(Lab, SilentLabEndsAfterTheScheduleWithoutResultsOrError) {
    // The whole schedule is used: each of the two arrays hears all four transmissions (their
    // trace lines are awaited, bounded, in case a simulator is slow to write them).
    LabResult result = Run("--arrays 2 --sim-options --trace",
                           "orvane-slpfind findsrvs service:raid.004417; echo \"rc=$?\"\n"
                           "heard() { cat \"$LAB_DIR\"/sim.*.log | "
                           "grep -c '^multicast SrvRqst service:raid.004417$'; }\n"
                           "for i in $(seq 100); do [ \"$(heard)\" -ge 8 ] && break; "
                           "sleep 0.05; done\n"
                           "echo \"heard=$(heard)\"\n",
                           {"--slp-mode silent", "--slp-mode silent"});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, (std::vector<std::string>{"rc=0", "heard=8"}));
}

TEST_F(Lab, SimulatorHttpSideAnswersByCredentialsAndMode) {
    std::string post = "curl -s -o \"$LAB_DIR/body\" -w '%{http_code} %{size_download}\\n' "
                       "--max-time 2 -H 'Content-Type: application/x-www-form-urlencoded' "
                       "--data-binary 'op=query&query=0' ";
    std::string url = ":51000/api/tarvik_storage_server_x.php";
    LabResult result = Run(
        "--arrays 5",
        // "Authorization:Basic " without a blank after the colon, as the login client sends.
        post + "-H 'Authorization:Basic YWRtaW46cGFzcy0w' http://10.77.1.1" + url + "\n" + post +
            "-u admin:wrong http://10.77.1.1" + url + "\n" + post +
            "-u admin:pass-1 http://10.77.1.2" + url + "\n" + post +
            "-u admin:pass-2 http://10.77.1.3" + url + "\n" + post +
            "-u admin:pass-3 http://10.77.1.4" + url + "\n" + post +
            "-u admin:pass-4 http://10.77.1.5" + url + "\necho curl=$?\n",
        {"", "--http-mode 404", "--http-status 503", "--http-mode oversize", "--http-mode silent"});
    ASSERT_EQ(result.status, 0);
    ASSERT_EQ(result.lines.size(), 7u);
    EXPECT_EQ(result.lines[0].substr(0, 4), "200 ");
    EXPECT_NE(result.lines[0], "200 0");
    EXPECT_EQ(result.lines[1].substr(0, 4), "401 ");
    EXPECT_EQ(result.lines[2].substr(0, 4), "404 ");
    EXPECT_EQ(result.lines[3].substr(0, 4), "503 ");
    EXPECT_EQ(result.lines[4], "200 100000");
    EXPECT_EQ(result.lines[5].substr(0, 4), "000 ");
    EXPECT_EQ(result.lines[6], "curl=28"); // timed out: the silent array never answers
}

namespace {

// Shell helpers for labs with a directory agent: da.conf asks only the agent, multicast.conf
// only multicast; wait_registered N waits (bounded) until the agent lists N arrays; stop_agent
// ends the agent and waits (bounded) until it is gone for good.
const char* kDirectoryHelpers =
    "short='net.slp.multicastTimeouts = 150,150,150,150\n"
    "net.slp.multicastMaximumWait = 1000\nnet.slp.unicastTimeouts = 100,200,300\n"
    "net.slp.unicastMaximumWait = 1000'\n"
    "printf '%s\\nnet.slp.DAAddresses = %s\\nnet.slp.activeDADetection = false\\n' "
    "\"$short\" \"$LAB_DA_ADDR\" >\"$LAB_DIR/da.conf\"\n"
    "printf '%s\\nnet.slp.activeDADetection = false\\n' \"$short\" >\"$LAB_DIR/multicast.conf\"\n"
    "listed() { OpenSLPConfig=\"$LAB_DIR/da.conf\" orvane-slpfind findsrvs service:raid.004417 "
    "| wc -l; }\n"
    "wait_registered() {\n"
    "  for i in $(seq 100); do [ \"$(listed)\" -ge \"$1\" ] && return 0; sleep 0.1; done\n"
    "  return 1\n"
    "}\n"
    "multicast_searches() { cat \"$LAB_DIR\"/sim.*.log | grep -c "
    "'^multicast SrvRqst service:raid.004417$'; }\n"
    "stop_agent() {\n"
    "  kill \"$LAB_DA_PID\"\n"
    "  for i in $(seq 100); do kill -0 \"$LAB_DA_PID\" 2>/dev/null || return 0; sleep 0.05; done\n"
    "  return 1\n"
    "}\n";

std::vector<std::string> Section(const std::vector<std::string>& lines, std::size_t index) {
    std::vector<std::vector<std::string>> sections(1);
    for (const std::string& line : lines) {
        if (line == "--") {
            sections.emplace_back();
        } else {
            sections.back().push_back(line);
        }
    }
    return index < sections.size() ? sections[index] : std::vector<std::string>{};
}

std::vector<std::string> Urls(std::vector<std::string> lines) {
    for (std::string& line : lines) {
        line = line.substr(0, line.find('\t'));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

} // namespace

TEST_F(Lab, ThreeArraysAreFoundByEveryWayOfAsking) {
    // "with SETTINGS COMMAND...": the command with the lab's settings and more, then "--".
    const LabResult result =
        Run("--arrays 3",
            "with() { printf '%s\\n' \"$1\" | cat \"$OpenSLPConfig\" - >\"$LAB_DIR/with.conf\"; "
            "shift; OpenSLPConfig=\"$LAB_DIR/with.conf\" \"$@\"; echo --; }\n"
            // Multicast leaves by the configured interface.
            "with 'net.slp.interfaces = 10.77.0.1' orvane-slpfind discover service:raid.004417\n"
            "with 'net.slp.isBroadcastOnly = true\nnet.slp.broadcastAddr = 10.77.255.255' "
            "orvane-slpfind discover service:raid.004417\n"
            // A configured directory agent is asked by unicast, and alone.
            "with 'net.slp.DAAddresses = 10.77.1.2' orvane-slpfind findsrvs service:raid.004417\n"
            "with '' orvane-slpfind findsrvs service:raid.004417 "
            "--filter '(&(hostname=ARRAY-1)(vendor=Tarvik*))'\n");
    ASSERT_EQ(result.status, 0);
    ExpectArrays({0, Section(result.lines, 0)}, 3);
    ExpectArrays({0, Section(result.lines, 1)}, 3);
    const std::vector<std::string> second{"service:raid.004417://10.77.1.2"};
    EXPECT_EQ(Section(result.lines, 2), second) << "directory agent address";
    EXPECT_EQ(Section(result.lines, 3), second) << "filter";
}

TEST_F(Lab, DiscoveredDirectoryAgentAnswersInsteadOfMulticast) {
    // Array 10.77.1.2 answers no request, but is registered: only the agent can name it.
    LabResult result = Run("--arrays 3 --da --sim-options --trace",
                           std::string(kDirectoryHelpers) +
                               "wait_registered 3 || exit 7\n"
                               "before=$(multicast_searches)\n"
                               "orvane-slpfind discover service:raid.004417 || exit 8\n"
                               "echo \"multicast=$(($(multicast_searches) - before))\"\n"
                               "echo --\n"
                               "OpenSLPConfig=\"$LAB_DIR/multicast.conf\" "
                               "orvane-slpfind discover service:raid.004417\n",
                           {"", "--slp-mode silent"});
    ASSERT_EQ(result.status, 0);
    std::vector<std::string> viaAgent = Section(result.lines, 0);
    ASSERT_EQ(viaAgent.size(), 4u);
    EXPECT_EQ(viaAgent.back(), "multicast=0") << "the search went by multicast too";
    viaAgent.pop_back();
    EXPECT_EQ(Urls(viaAgent), (std::vector<std::string>{"service:raid.004417://10.77.1.1",
                                                        "service:raid.004417://10.77.1.2",
                                                        "service:raid.004417://10.77.1.3"}));
    for (const std::string& line : viaAgent) {
        EXPECT_NE(Attr(line, "mac"), "<absent>") << "the agent gave no attributes: " << line;
    }
    EXPECT_EQ(Urls(Section(result.lines, 1)),
              (std::vector<std::string>{"service:raid.004417://10.77.1.1",
                                        "service:raid.004417://10.77.1.3"}));
}

TEST_F(Lab, TheAgentAndMulticastGiveTheSameResults) {
    LabResult result =
        Run("--arrays 30 --per-ns 10 --da",
            std::string(kDirectoryHelpers) +
                "wait_registered 30 || exit 7\n"
                "OpenSLPConfig=\"$LAB_DIR/da.conf\" orvane-slpfind discover service:raid.004417 "
                "| sort\necho --\n"
                "OpenSLPConfig=\"$LAB_DIR/multicast.conf\" orvane-slpfind discover "
                "service:raid.004417 | sort\n");
    ASSERT_EQ(result.status, 0);
    std::vector<std::string> viaAgent = Section(result.lines, 0);
    EXPECT_EQ(viaAgent.size(), 30u);
    EXPECT_EQ(viaAgent, Section(result.lines, 1));
}

TEST_F(Lab, ThousandsOfUrlsComeFromTheAgentOverTcp) {
    LabResult result = Run("--arrays 2000 --per-ns 1000 --da --da-options --trace",
                           std::string(kDirectoryHelpers) +
                               "wait_registered 2000 || exit 7\n"
                               "tcp() { grep -c '^tcp SrvRqst service:raid.004417$' "
                               "\"$LAB_DIR/da.log\"; }\n"
                               "before=$(tcp)\n"
                               "OpenSLPConfig=\"$LAB_DIR/da.conf\" orvane-slpfind findsrvs "
                               "service:raid.004417 | sort -u | wc -l\n"
                               "echo \"tcp=$(($(tcp) - before))\"\n");
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, (std::vector<std::string>{"2000", "tcp=1"}));
}

TEST_F(Lab, AnAgentThatDiesBetweenSearchesGivesWayToMulticast) {
    // One process searches twice, the agent being stopped in between; 10.77.1.2 is known to the
    // agent only.
    LabResult result = Run("--arrays 3 --da",
                           std::string(kDirectoryHelpers) +
                               "wait_registered 3 || exit 7\n"
                               "mkfifo \"$LAB_DIR/go\"\n"
                               "orvane-slpfind findsrvs service:raid.004417 --passes 2 "
                               "<\"$LAB_DIR/go\" >\"$LAB_DIR/out\" &\n"
                               "finder=$!\n"
                               "exec 3>\"$LAB_DIR/go\"\n"
                               "for i in $(seq 100); do grep -qs -- -- \"$LAB_DIR/out\" && break; "
                               "sleep 0.05; done\n"
                               // Gone for good before the second search starts.
                               "stop_agent || exit 8\n"
                               "echo >&3\nexec 3>&-\n"
                               "wait \"$finder\"; echo \"rc=$?\"\n"
                               "sort \"$LAB_DIR/out\"\n",
                           {"", "--slp-mode silent"});
    ASSERT_EQ(result.status, 0);
    ASSERT_FALSE(result.lines.empty());
    EXPECT_EQ(result.lines.front(), "rc=0");
    // Sorted: the separator, then both passes' URLs; the second pass misses only 10.77.1.2.
    std::vector<std::string> urls(result.lines.begin() + 1, result.lines.end());
    EXPECT_EQ(urls, (std::vector<std::string>{
                        "--", "service:raid.004417://10.77.1.1", "service:raid.004417://10.77.1.1",
                        "service:raid.004417://10.77.1.2", "service:raid.004417://10.77.1.3",
                        "service:raid.004417://10.77.1.3"}));
}

TEST_F(Lab, ArraysRegisterAgainWithARebootedAgent) {
    // The restarted agent knows nothing; only the arrays' new registrations can fill it.
    LabResult result =
        Run("--arrays 20 --per-ns 10 --da",
            std::string(kDirectoryHelpers) +
                "wait_registered 20 || exit 7\n"
                "stop_agent || exit 9\n"
                "sleep 1.1\n" // a new boot timestamp, in seconds
                "ip netns exec \"$LAB_DA_NS\" \"$LAB_SIM\" --directory-agent --address "
                "\"$LAB_DA_ADDR\" >/dev/null 2>&1 &\n"
                "wait_registered 20 || { echo \"listed=$(listed)\"; exit 8; }\n"
                "echo registered\n");
    ASSERT_EQ(result.status, 0) << (result.lines.empty() ? "" : result.lines.back());
    EXPECT_EQ(result.lines, std::vector<std::string>{"registered"});
}

TEST_F(Lab, AnArrayThatAnotherHostAnswersForIsHeardByMulticastButNotByTheProgram) {
    // The simulator at 10.77.1.1 answers for service:raid.004417://10.77.1.99, a host nobody
    // holds, as a proxy or a static registration does. The finder asks for the attributes as SLP
    // does and gets them; the program asks the URL's host alone and lists nothing, unless the
    // settings turn that off.
    const LabResult result =
        Run("--arrays 1",
            "printf 'pass\\nrows\\n' >\"$LAB_DIR/probe\"\n"
            "probe() { orvane-headless-probe \"$LAB_DIR/probe\" | sed 's/ ms=.*//'; echo --; }\n"
            "orvane-slpfind findattrs service:raid.004417://10.77.1.99; echo \"rc=$?\"; echo --\n"
            "probe\n"
            "printf 'orvane.slp.attributesFromUrlHost = false\\n' | "
            "cat \"$OpenSLPConfig\" - >\"$LAB_DIR/proxy.conf\"\n"
            "OpenSLPConfig=\"$LAB_DIR/proxy.conf\" probe\n",
            {"--url-host 10.77.1.99"});
    ASSERT_EQ(result.status, 0);
    CLabArray proxied = CLabArray::Generated(0);
    const std::vector<std::string> finder = Section(result.lines, 0);
    ASSERT_EQ(finder.size(), 2u);
    EXPECT_EQ(Attr("\t" + finder[0], "mac"), proxied.mac);
    EXPECT_EQ(finder[1], "rc=0");
    EXPECT_EQ(Section(result.lines, 1), std::vector<std::string>{"PASS rows=0"});
    proxied.ip = "10.77.1.99";
    EXPECT_EQ(Section(result.lines, 2),
              (std::vector<std::string>{"PASS rows=1", "ROW " + proxied.Row("No")}));
}
