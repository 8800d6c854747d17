// The credential service's audit records: every answered "/Query" with the arrays it handed
// out, refused checks, throttle blocks and pushes with their addresses and reasons, never a
// password; and a flood of refused requests that leaves the trail short and its earlier records
// in place.
#include "platform/io/CAuditTrail.h"
#include "tests/service/ServiceTestSupport.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WaitUntil.h"

#include <atomic>
#include <thread>

namespace {

using svctest::Exchange;
using svctest::ExchangeFrom;
using svctest::QueryRequest;

class AuditService : public svctest::CServiceTest {
protected:
    void SetUp() override {
        CServiceTest::SetUp();
        m_pCore->SetAuditTrail(std::make_shared<CAuditTrail>(m_dir / "audit.log"));
    }

    std::vector<std::string> Records() const { return ReadFileLines(m_dir / "audit.log"); }
    bool WaitForRecords(std::size_t n) const {
        return WaitUntil([&] { return Records().size() >= n; });
    }
};

TEST_F(AuditService, AnswersRefusalsAndPushesAreRecordedWithoutPasswords) {
    AddServer("00:11", "127.0.0.1", true, true, u"array-secret");
    AddServer("00:22", "127.0.0.5", true, true, u"other-secret");
    AddGroup(u"Everyone", {u"admin"}, {u"00:11", u"00:22"});
    StartService();
    Exchange(Port(), QueryRequest("admin:9983"));
    ExchangeFrom("127.0.0.3", Port(), QueryRequest("admin:guess-pw"));
    Exchange(Port(), "POST /UpdateAdminPasswd?00:11 HTTP/1.0\r\n\r\npushed-pw\r\n");
    ExchangeFrom("127.0.0.4", Port(),
                 "POST /UpdateAdminPasswd?00:22 HTTP/1.0\r\n\r\nstolen-pw\r\n");
    ASSERT_TRUE(WaitForRecords(4));
    const std::vector<std::string> records = Records();
    const std::vector<std::string> expected = {
        R"("event":"query","source":"service","address":"127.0.0.1","user":"admin","admin":true,)"
        R"("macs":"00:11,00:22","ips":"127.0.0.1,127.0.0.5"})",
        R"("event":"credentials-refused","source":"service","user":"admin","address":"127.0.0.3"})",
        R"("event":"push","source":"service","mac":"00:11","result":"accepted",)"
        R"("address":"127.0.0.1"})",
        R"("event":"push","source":"service","mac":"00:22","result":"refused",)"
        R"("reason":"the server was logged in to at 127.0.0.5","address":"127.0.0.4"})",
    };
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(records[i].ends_with(expected[i])) << records[i];
    }
    for (const std::string& record : records) {
        for (const char* secret : {"9983", "guess-pw", "secret", "pushed-pw", "stolen-pw"}) {
            EXPECT_EQ(record.find(secret), std::string::npos) << secret << " in " << record;
        }
    }
}

TEST_F(AuditService, AFloodOfRefusedRequestsLeavesFewRecordsAndTheEarlierOnesInPlace) {
    AddServer("00:11", "127.0.0.1");
    AddGroup(u"Everyone", {u"admin"}, {u"00:11"});
    StartService();
    Exchange(Port(), QueryRequest("admin:9983"));
    ASSERT_TRUE(WaitForRecords(1));
    const std::string first = Records()[0];
    constexpr int kRequests = 100000;
    constexpr int kThreads = 4;
    // A bound on the whole flood, far beyond what it takes, so that a broken service ends it.
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    std::atomic<int> sent{0};
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            const std::string request = QueryRequest("admin:flood");
            while (sent.fetch_add(1) < kRequests && std::chrono::steady_clock::now() < end) {
                answered += svctest::RequestAndReset(Port(), request, false) ? 1 : 0;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(answered.load(), kRequests);
    StopService();
    m_pCore->AuditTrail()->FlushSummaries(true);
    const std::vector<std::string> records = Records();
    EXPECT_LT(records.size(), 200u);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0], first);
    uint64_t counted = 0;
    std::size_t refusals = 0;
    for (const std::string& record : records) {
        if (const std::size_t at = record.find("\"count\":"); at != std::string::npos) {
            counted += std::stoull(record.substr(at + 8));
        } else if (record.find("\"address\":\"127.0.0.1\"") != std::string::npos &&
                   record.find("\"event\":\"query\"") == std::string::npos) {
            ++refusals;
        }
    }
    // Every refusal is in the trail: written, or counted in a summary.
    EXPECT_EQ(counted + refusals, static_cast<uint64_t>(kRequests));
}

} // namespace
