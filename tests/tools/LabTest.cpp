// End-to-end tests in the namespace lab: orvane-slpfind on our SLP layer against simulated
// arrays, and the simulators' HTTP side with curl. They need root to build the lab and skip
// without it. Most use a shortened multicast schedule so that each run takes about a second.
#include "platform/slp/CSlpAttrList.h"
#include "tests/tools/CLabTest.h"

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

TEST_F(Lab, FindsOneArrayAndReadsItsAttributes) {
    LabResult result =
        Run("--arrays 1", "orvane-slpfind findsrvs service:raid.004417 || exit 9\n"
                          "orvane-slpfind findattrs service:raid.004417://10.77.1.1\n");
    ASSERT_EQ(result.status, 0);
    ASSERT_EQ(result.lines.size(), 2u);
    EXPECT_EQ(result.lines[0], "service:raid.004417://10.77.1.1");
    EXPECT_EQ(result.lines[1],
              "(mac=02:4f:52:00:00:00),(hostname=array-0),(vendor=Tarvik Networks),(type=SAN),"
              "(model=Arvo),(product=Z210-R2),(version=1.0.0)");
}

TEST_F(Lab, FindsThreeArraysWithTheirAttributes) {
    // Multicast leaves by the configured interface.
    ExpectArrays(Run("--arrays 3", kDiscover, {},
                     std::string(kShortSchedule) + "net.slp.interfaces = 10.77.0.1\n"),
                 3);
}

TEST_F(Lab, SearchFiltersSelectArrays) {
    LabResult result = Run("--arrays 3", "orvane-slpfind findsrvs service:raid.004417 "
                                         "--filter '(&(hostname=ARRAY-1)(vendor=Tarvik*))'\n");
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, std::vector<std::string>{"service:raid.004417://10.77.1.2"});
}

TEST_F(Lab, FindsFiftyArraysWithTheirAttributes) {
    ExpectArrays(Run("--arrays 50", kDiscover), 50);
}

TEST_F(Lab, ReservedCharactersRoundTripThroughTheEscapes) {
    LabResult result = Run("--arrays 2", kDiscover,
                           {"--hostname 'rack 1, shelf (2) \\ top' --product 'a=b!<c>~d'"});
    ExpectArrays(result, 2);
    for (const std::string& line : result.lines) {
        if (line.find("//10.77.1.1\t") != std::string::npos) {
            EXPECT_EQ(Attr(line, "hostname"), "rack 1, shelf (2) \\ top");
            EXPECT_EQ(Attr(line, "product"), "a=b!<c>~d");
            EXPECT_NE(line.find("\\2C"), std::string::npos) << "the comma travels escaped";
        }
    }
}

TEST_F(Lab, OmittedAttributesAreNotReported) {
    LabResult result = Run("--arrays 2", kDiscover, {"--omit type,model"});
    ASSERT_EQ(result.status, 0);
    ASSERT_EQ(result.lines.size(), 2u);
    for (const std::string& line : result.lines) {
        bool omitting = line.find("//10.77.1.1\t") != std::string::npos;
        EXPECT_EQ(Attr(line, "type") == "<absent>", omitting) << line;
        EXPECT_EQ(Attr(line, "model") == "<absent>", omitting) << line;
        EXPECT_NE(Attr(line, "mac"), "<absent>");
    }
}

TEST_F(Lab, SilentLabEndsAfterTheScheduleWithoutResultsOrError) {
    LabResult result = Run("--arrays 2",
                           "start=$(date +%s%N)\n"
                           "orvane-slpfind findsrvs service:raid.004417; rc=$?\n"
                           "echo \"rc=$rc ms=$((($(date +%s%N) - start) / 1000000))\"\n",
                           {"--slp-mode silent", "--slp-mode silent"});
    ASSERT_EQ(result.status, 0);
    ASSERT_EQ(result.lines.size(), 1u);
    EXPECT_EQ(result.lines[0].rfind("rc=0 ", 0), 0u) << result.lines[0];
    int ms = std::stoi(result.lines[0].substr(result.lines[0].find("ms=") + 3));
    EXPECT_GE(ms, 550); // the whole schedule, 4 x 150 ms, was waited out
    EXPECT_LT(ms, 2500);
}

TEST_F(Lab, GarbageFromOneSimulatorDoesNotHideTheOthers) {
    LabResult result = Run("--arrays 3", kDiscover, {"", "--slp-mode garbage"});
    ExpectArrays(result, 2);
    for (const std::string& line : result.lines) {
        EXPECT_EQ(line.find("10.77.1.2"), std::string::npos) << line;
        EXPECT_EQ(line.find("192.0.2.1"), std::string::npos) << line;
    }
}

TEST_F(Lab, AttributesTooLargeForADatagramComeOverTcp) {
    std::string product(3000, 'P');
    LabResult result =
        Run("--arrays 1", "orvane-slpfind findattrs service:raid.004417://10.77.1.1\n",
            {"--product " + product});
    ASSERT_EQ(result.status, 0);
    ASSERT_EQ(result.lines.size(), 1u);
    EXPECT_EQ(CSlpAttrList::Find(result.lines[0], "product"), product);
}

TEST_F(Lab, DirectoryAgentAddressesAreAskedByUnicast) {
    LabResult result = Run("--arrays 3", "orvane-slpfind findsrvs service:raid.004417\n", {},
                           std::string(kShortSchedule) + "net.slp.DAAddresses = 10.77.1.2\n");
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, std::vector<std::string>{"service:raid.004417://10.77.1.2"});
}

TEST_F(Lab, BroadcastOnlyFindsEveryArray) {
    LabResult result =
        Run("--arrays 3", kDiscover, {},
            std::string(kShortSchedule) +
                "net.slp.isBroadcastOnly = true\nnet.slp.broadcastAddr = 10.77.255.255\n");
    ExpectArrays(result, 3);
}

TEST_F(Lab, NetworkErrorIsReportedByTheExitStatus) {
    LabResult result = Run("--arrays 1", "ip route del 224.0.0.0/4 dev eth0\n"
                                         "orvane-slpfind findsrvs service:raid.004417\n"
                                         "echo rc=$?\n");
    ASSERT_EQ(result.status, 0);
    ASSERT_FALSE(result.lines.empty());
    EXPECT_EQ(result.lines.back(), "rc=1");
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

TEST_F(Lab, PasswordPushReachesTheManagerAndPrintsItsAnswer) {
    // Another simulator's HTTP port stands in for the management server: it answers 404.
    LabResult result =
        Run("--arrays 1",
            "orvane-array-sim --address 10.77.0.1 --mac 02:4f:52:00:00:09 --push-password n3w "
            "--manager 10.77.1.1:51000; echo rc=$?\n"
            "orvane-array-sim --address 10.77.0.1 --mac 02:4f:52:00:00:09 --push-password n3w "
            "--manager 10.77.1.1:9 2>/dev/null; echo rc=$?\n");
    ASSERT_EQ(result.status, 0);
    ASSERT_GE(result.lines.size(), 3u);
    EXPECT_EQ(result.lines.front().rfind("HTTP/1.1 404", 0), 0u) << result.lines.front();
    EXPECT_EQ(result.lines[result.lines.size() - 2], "rc=0");
    EXPECT_EQ(result.lines.back(), "rc=1");
}
