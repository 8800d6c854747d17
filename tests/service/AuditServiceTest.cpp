// The credential service's audit records: every answered "/Query" with the arrays it handed
// out, refused checks, throttle blocks and pushes with their addresses and reasons, never a
// password; and floods of refused requests and of answered queries that leave the trail short
// and its earlier records in place.
#include "core/audit/CAuditQuery.h"
#include "core/audit/CAuditTrail.h"
#include "tests/service/ServiceTestSupport.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WaitUntil.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
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

TEST_F(AuditService, AQueryFloodKeepsTheEarlierLoginPushAndDirectoryRecords) {
    // Caps a thousand times smaller than the program's: the flood writes megabytes, not a gigabyte.
    constexpr uint64_t kFileBytes = 100 * 1024;
    const auto file = m_dir / "flood" / "audit.log";
    CAuditTrail::COptions options;
    options.file = file;
    options.nMaxFileBytes = kFileBytes;
    m_pCore->SetAuditTrail(std::make_shared<CAuditTrail>(std::move(options)));
    // As in the field: one user reaching 400 arrays, some 10 KB of MACs and addresses a query.
    std::vector<std::u16string> access;
    for (int i = 0; i < 400; ++i) {
        std::array<char, 32> mac{};
        std::snprintf(mac.data(), mac.size(), "02:4f:52:00:%02x:%02x", i / 256, i % 256);
        AddServer(mac.data(), i == 0 ? "127.0.0.1" : "10.1.1." + std::to_string(i % 256));
        access.emplace_back(mac.data(), mac.data() + std::strlen(mac.data()));
    }
    AddGroup(u"Everyone", {u"admin"}, access);
    StartService();
    m_pCore->Audit(CAuditRecord("login", "console").Add("mac", "02:4f:52:00:00:01"));
    m_pCore->Audit(CAuditRecord("user-add", "orvanectl").Add("user", "nora"));
    Exchange(Port(), "POST /UpdateAdminPasswd?02:4f:52:00:00:00 HTTP/1.0\r\n\r\npushed-pw\r\n");
    constexpr int kQueries = 3000;
    for (int i = 0; i < kQueries; ++i) {
        svctest::RequestAndReset(Port(), QueryRequest("admin:9983"), true);
    }
    StopService();
    m_pCore->AuditTrail()->FlushSummaries(true);
    // Written one by one, the answers would fill all 11 files (1 MB) and rotate the three
    // records before them away.
    const std::vector<std::string> records = CAuditQuery().Read(file);
    EXPECT_EQ(CAuditQuery::Files(file).size(), 1u);
    EXPECT_LT(std::filesystem::file_size(file), kFileBytes / 4);
    for (const char* kept : {R"("event":"login")", R"("event":"user-add")",
                             R"("event":"push","source":"service","mac":"02:4f:52:00:00:00")"}) {
        EXPECT_TRUE(std::ranges::any_of(records, [&](auto& r) {
            return r.find(kept) != std::string::npos;
        })) << kept;
    }
    // Every query is in the trail, written or counted; the lists far fewer times than that.
    uint64_t queries = 0;
    std::size_t lists = 0;
    for (const std::string& record : records) {
        if (record.find(R"("event":"query")") != std::string::npos) {
            const std::size_t at = record.find(R"("count":)");
            queries += at == std::string::npos ? 1 : std::stoull(record.substr(at + 8));
            lists += record.find(R"("macs":)") != std::string::npos ? 1 : 0;
        }
    }
    EXPECT_EQ(queries, static_cast<uint64_t>(kQueries));
    EXPECT_LT(lists, 10u);
}

TEST_F(AuditService, AFullTrailIsSaidOnceInTheServiceLog) {
    // The only older file kept was just written: the trail may not drop it.
    const auto file = m_dir / "full" / "audit.log";
    std::filesystem::create_directories(file.parent_path());
    m_dir.Write("full/audit.log.1", "");
    CAuditTrail::COptions options;
    options.file = file;
    options.nMaxFileBytes = 1;
    options.nKeptFiles = 1;
    auto trail = std::make_shared<CAuditTrail>(std::move(options));
    m_pCore->SetAuditTrail(trail);
    for (const char* event : {"start", "login"}) {
        trail->Write(CAuditRecord(event, "console"));
        trail->Sync();
    }
    ASSERT_TRUE(trail->Full());
    StartService();
    for (int i = 0; i < 3; ++i) {
        Exchange(Port(), QueryRequest("admin:9983"));
    }
    EXPECT_TRUE(m_pLog->WaitFor("audit trail full", std::chrono::seconds(5)));
    EXPECT_EQ(m_pLog->Count("audit trail full"), 1u);
    EXPECT_TRUE(std::filesystem::exists(m_dir / "full" / "audit.log.1"));
}

} // namespace
