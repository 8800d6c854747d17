// The audit trail's writer and reader: rotation and modes, a failing file counted and reported
// once, records that survive hostile names, the per-address summary of refusals, repeated
// hand-outs counted, a full trail that keeps its last day, and the query that orvanectl runs
// over the files.
#include "core/audit/AuditRecords.h"
#include "core/audit/CAuditQuery.h"
#include "core/audit/CAuditTrail.h"
#include "tests/support/CTempDir.h"
#include "tests/support/TestFiles.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = CAuditRecord::Clock;

mode_t ModeOf(const std::filesystem::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

std::string Member(const std::string& line, const std::string& key) {
    const auto record = CAuditRecord::ParseJsonLine(line);
    if (record) {
        for (const auto& [name, value] : *record) {
            if (name == key) {
                return value;
            }
        }
    }
    return "(absent)";
}

TEST(AuditTrail, RotatesWithinItsLimitAndKeepsItsModes) {
    CTempDir dir;
    const auto folder = dir / "state";
    std::filesystem::create_directories(folder);
    ::chmod(folder.c_str(), 0755);
    const auto file = folder / "audit.log";
    dir.Write("state/audit.log", "");
    ::chmod(file.c_str(), 0644);
    constexpr uint64_t kMax = 400;
    CAuditTrail::COptions options;
    options.file = file;
    options.nMaxFileBytes = kMax;
    options.nKeptFiles = 2;
    options.minKeptAge = {}; // rotation alone: the files may go however young
    CAuditTrail trail(options);
    constexpr int kRecords = 40;
    for (int i = 0; i < kRecords; ++i) {
        trail.Write(CAuditRecord("query", "service").AddNumber("n", static_cast<uint64_t>(i)));
    }
    trail.Sync();
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(ModeOf(file), 0600u);
    EXPECT_TRUE(std::filesystem::exists(dir / "state/audit.log.2"));
    EXPECT_FALSE(std::filesystem::exists(dir / "state/audit.log.3"));
    // Oldest first, newest last, none cut, the newest one at the end.
    const std::vector<std::string> read = CAuditQuery().Read(file);
    ASSERT_FALSE(read.empty());
    EXPECT_EQ(Member(read.back(), "n"), std::to_string(kRecords - 1));
    for (std::size_t i = 1; i < read.size(); ++i) {
        EXPECT_EQ(std::stoi(Member(read[i], "n")), std::stoi(Member(read[i - 1], "n")) + 1);
    }
    for (const auto& f : CAuditQuery::Files(file)) {
        EXPECT_LE(std::filesystem::file_size(f), kMax) << f;
        EXPECT_EQ(ModeOf(f), 0600u) << f;
    }
}

TEST(AuditTrail, UnwritableRecordsAreCountedAndReportedOncePerOutage) {
    CTempDir dir;
    const auto file = dir / "audit.log";
    std::filesystem::create_directories(file); // a folder where the file should be
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_NONBLOCK), 0);
    CAuditTrail::COptions options;
    options.file = file;
    options.nErrorFd = pipeFds[1];
    CAuditTrail trail(options);
    const auto reports = [&] {
        std::string text(4096, '\0');
        const ssize_t n = ::read(pipeFds[0], text.data(), text.size());
        text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    };
    for (int i = 0; i < 3; ++i) {
        trail.Write(CAuditRecord("start", "service"));
        trail.Sync();
    }
    EXPECT_EQ(trail.FailedRecords(), 3u);
    EXPECT_EQ(reports(), 1);
    std::filesystem::remove(file);
    trail.Write(CAuditRecord("stop", "service"));
    trail.Sync();
    EXPECT_EQ(trail.FailedRecords(), 3u);
    EXPECT_EQ(ReadFileLines(file).size(), 1u);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

TEST(AuditTrail, AFullFileKeepsOnlyWholeRecords) {
    CTempDir dir;
    const auto file = dir / "audit.log";
    // A file size limit stands in for a full disk: the record that crosses it is cut short.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit limit{1000, saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    {
        CAuditTrail trail({.file = file, .nErrorFd = -1});
        for (int i = 0; i < 30; ++i) {
            trail.Write(CAuditRecord("query", "service").Add("pad", std::string(40, 'x')));
            trail.Sync();
        }
        EXPECT_GT(trail.FailedRecords(), 0u);
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, SIG_DFL);
    const auto lines = ReadFileLines(file);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(
        std::ranges::all_of(lines, [](auto& l) { return !!CAuditRecord::ParseJsonLine(l); }));
    EXPECT_EQ(std::filesystem::file_size(file) % (lines.front().size() + 1), 0u);
}

TEST(AuditTrail, HostileNamesStayOneValidRecord) {
    const std::vector<std::string> names = {
        "quote\"d",        "back\\slash",      "new\nline",           std::string("nul\0byte", 8),
        "esc\x1b[31m",     "bad\xff\xfe utf8", "sep\xe2\x80\xa8line", "\"},\"event\":\"forged",
        "next\xc2\x85line"};
    for (const std::string& name : names) {
        const CAuditRecord record =
            CAuditRecord("credentials-refused", "service").Add("user", name).AddNumber("n", 7);
        const std::string line = record.JsonLine({});
        std::string reused = "before";
        record.AppendJsonLine(reused, {});
        EXPECT_EQ(reused, "before" + line);
        EXPECT_EQ(record.Fields().back(), (std::pair<std::string, std::string>("n", "7")));
        EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
        EXPECT_EQ(line.find("\xe2\x80\xa8"), std::string::npos) << line;
        EXPECT_EQ(line.find("\xc2\x85"), std::string::npos) << line;
        EXPECT_EQ(Member(line, "event"), "credentials-refused") << line;
        const std::string back = Member(line, "user");
        if (name.find('\xff') != std::string::npos) {
            EXPECT_EQ(back, "bad\xef\xbf\xbd\xef\xbf\xbd utf8");
        } else {
            EXPECT_EQ(back, name);
        }
        EXPECT_EQ(record.Fields().front().second, back);
        const std::string table = CAuditQuery::Table({line});
        EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 2) << table;
        EXPECT_EQ(table.find('\x1b'), std::string::npos) << table;
    }
    // Each character that is escaped, at each place of a text longer than the runs copied at once.
    for (const std::string special :
         {"\"", "\\", "\n", "\x1f", "\x7f", "\xe2\x80\xa9", "\xc3\xa9", "\xc2\x85", "\xc2\xa0"}) {
        for (std::size_t at = 0; at <= 20; ++at) {
            std::string text(20, 'p');
            text.insert(at, special);
            const std::string line = CAuditRecord("e", "s").Add("v", text).JsonLine({});
            EXPECT_EQ(Member(line, "v"), text) << at << " " << line;
            EXPECT_EQ(line.find_first_of("\n\x1f\x7f"), line.size() - 1) << line;
        }
    }
    // In this order, so that a second worked out before is not taken for the next one.
    const std::vector<std::pair<int64_t, std::string>> times = {
        {1005, "1970-01-01T00:00:01.005Z"}, {1999, "1970-01-01T00:00:01.999Z"},
        {2000, "1970-01-01T00:00:02.000Z"}, {1000, "1970-01-01T00:00:01.000Z"},
        {-1, "1969-12-31T23:59:59.999Z"},   {1797098400010, "2026-12-12T18:00:00.010Z"}};
    for (const auto& [ms, text] : times) {
        EXPECT_EQ(CAuditRecord::TimeText(Clock::time_point(std::chrono::milliseconds(ms))), text);
    }
    const auto journal = CAuditTrail::JournalFields(
        CAuditRecord("query", "service").Add("user", "bob").Add("macs", "a1,b2"), "{}\n");
    for (const char* field : {"MESSAGE={}", "ORVANE_EVENT=query", "ORVANE_SOURCE=service",
                              "ORVANE_USER=bob", "ORVANE_MAC=a1", "ORVANE_MAC=b2"}) {
        EXPECT_NE(std::find(journal.begin(), journal.end(), field), journal.end()) << field;
    }
}

TEST(AuditTrail, StopWritesEveryRecordGivenBeforeIt) {
    CTempDir dir;
    constexpr uint64_t kRecords = 20000; // several full batches
    {
        CAuditTrail trail(dir / "audit.log");
        for (uint64_t i = 0; i < kRecords; ++i) {
            trail.Write(CAuditRecord("query", "service").AddNumber("n", i));
        }
    }
    const auto lines = ReadFileLines(dir / "audit.log");
    ASSERT_EQ(lines.size(), kRecords);
    EXPECT_EQ(Member(lines.back(), "n"), std::to_string(kRecords - 1));
}

TEST(AuditTrail, RefusalsAreSummarisedOncePerAddressPerMinute) {
    CTempDir dir;
    const auto file = dir / "audit.log";
    std::atomic<Clock::time_point> now{Clock::time_point(std::chrono::hours(24))};
    CAuditTrail::COptions options;
    options.file = file;
    options.clock = [&now] { return now.load(); };
    {
        CAuditTrail trail(options);
        trail.Write(CAuditRecord("start", "service"));
        for (int i = 0; i < 1000; ++i) {
            trail.WriteRefusal(CAuditRecord("throttled", "service"), "10.0.0.1");
        }
        trail.WriteRefusal(CAuditRecord("credentials-refused", "service"), "10.0.0.2");
        trail.Sync();
        EXPECT_EQ(ReadFileLines(file).size(), 3u);
        now = now.load() + std::chrono::seconds(61);
        // The next refusal after the minute brings the summary, then starts a new minute.
        trail.WriteRefusal(CAuditRecord("throttled", "service"), "10.0.0.1");
        trail.WriteRefusal(CAuditRecord("throttled", "service"), "10.0.0.1");
    }
    const auto lines = ReadFileLines(file);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(Member(lines[0], "event"), "start");
    EXPECT_EQ(Member(lines[3], "event"), "refusals-summary");
    EXPECT_EQ(Member(lines[3], "address"), "10.0.0.1");
    EXPECT_EQ(Member(lines[3], "count"), "999");
    EXPECT_EQ(Member(lines[4], "event"), "throttled");
    // The destructor writes what was still counting.
    EXPECT_EQ(Member(lines[5], "count"), "1");
}

TEST(AuditTrail, RepeatedHandOutsAreCountedAndTheirListsWrittenWhenTheyChange) {
    CTempDir dir;
    const auto file = dir / "audit.log";
    const Clock::time_point start{std::chrono::hours(24)};
    std::atomic<Clock::time_point> now{start};
    CAuditTrail::COptions options;
    options.file = file;
    options.clock = [&now] { return now.load(); };
    const std::string first = "02:00:00:00:00:01";
    const std::string second = "02:00:00:00:00:02";
    CAuditTrail::CHandOut nora{"10.0.0.1", "nora", false, first, "10.1.0.1", 1};
    {
        CAuditTrail trail(options);
        for (int i = 0; i < 100; ++i) {
            trail.WriteHandOut(nora);
        }
        now = start + std::chrono::seconds(1);
        nora.generation = 2; // other tables, the same lists: a repeat
        trail.WriteHandOut(nora);
        CAuditTrail::CHandOut other = nora;
        other.address = "10.0.0.2";
        trail.WriteHandOut(other);
        now = start + std::chrono::seconds(61);
        trail.Sync(); // the minute is over: its count goes without another record
        EXPECT_EQ(ReadFileLines(file).size(), 3u);
        nora.macs = second;
        nora.generation = 3;
        trail.WriteHandOut(nora);
        trail.WriteHandOut(nora);
    }
    const auto lines = ReadFileLines(file);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(Member(lines[0], "macs"), first);
    EXPECT_EQ(Member(lines[1], "address"), "10.0.0.2");
    EXPECT_EQ(Member(lines[2], "count"), "100");
    EXPECT_EQ(Member(lines[2], "macs"), "(absent)");
    EXPECT_EQ(Member(lines[2], "first"), CAuditRecord::TimeText(start));
    EXPECT_EQ(Member(lines[2], "last"), CAuditRecord::TimeText(start + std::chrono::seconds(1)));
    EXPECT_EQ(Member(lines[3], "macs"), second);
    EXPECT_EQ(Member(lines[4], "count"), "1"); // written at the stop
    // The counts are found by the arrays of the lists they repeat.
    for (const auto& [mac, expected] : {std::pair{first, 3u}, std::pair{second, 2u}}) {
        CAuditQuery query;
        query.mac = mac;
        EXPECT_EQ(query.Read(file).size(), expected) << mac;
    }
}

TEST(AuditTrail, AFloodFillsTheTrailWithoutRotatingAwayItsLastDay) {
    CTempDir dir;
    const auto file = dir / "audit.log";
    const Clock::time_point start = Clock::now(); // the files' own times are compared with it
    std::atomic<Clock::time_point> now{start};
    CAuditTrail::COptions options;
    options.file = file;
    options.nMaxFileBytes = 2000;
    options.nKeptFiles = 2;
    options.clock = [&now] { return now.load(); };
    CAuditTrail trail(options);
    const std::vector<std::string> earlier = {"login", "push", "user-add"};
    for (const std::string& event : earlier) {
        trail.Write(CAuditRecord(event, "console"));
    }
    constexpr int kFlood = 3000;
    for (int i = 0; i < kFlood; ++i) {
        trail.Write(CAuditRecord("push", "service").Add("address", "10.9.9.9").AddNumber("n", i));
        if (i % 10 == 0) {
            trail.Sync();
        }
    }
    ASSERT_TRUE(trail.Full());
    now = start + std::chrono::seconds(61);
    trail.Sync();
    std::vector<std::string> records = CAuditQuery().Read(file);
    for (std::size_t i = 0; i < earlier.size(); ++i) {
        EXPECT_EQ(Member(records.at(i), "event"), earlier[i]);
    }
    uint64_t flood = 0;
    for (const std::string& record : records) {
        if (Member(record, "address") == "10.9.9.9") {
            const std::string count = Member(record, "count");
            flood += count == "(absent)" ? 1 : std::stoull(count);
        }
    }
    EXPECT_EQ(flood, static_cast<uint64_t>(kFlood));
    EXPECT_EQ(std::ranges::count_if(
                  records, [](auto& r) { return r.find("trail-full") != std::string::npos; }),
              1);
    EXPECT_LT(std::filesystem::file_size(file), 2 * options.nMaxFileBytes);
    // A day later the oldest file may go: the trail rotates and writes each record again.
    now = start + std::chrono::hours(25);
    trail.Write(CAuditRecord("stop", "service"));
    trail.Sync();
    EXPECT_FALSE(trail.Full());
    records = CAuditQuery().Read(file);
    EXPECT_EQ(Member(records.back(), "event"), "trail-resumed");
    EXPECT_EQ(Member(records.at(records.size() - 2), "event"), "stop");
}

TEST(AuditQuery, FiltersAndTimes) {
    const std::string line = CAuditRecord("query", "service")
                                 .Add("user", "bob")
                                 .Add("macs", "00:1A:2B:3C:4D:5E,001122334455")
                                 .JsonLine(Clock::time_point(std::chrono::hours(24 * 365 * 50)));
    const auto record = *CAuditRecord::ParseJsonLine(line);
    const std::string time = Member(line, "time");
    struct CCase {
        std::string CAuditQuery::*field;
        std::string value;
        bool bMatches;
    };
    const std::vector<CCase> cases = {
        {&CAuditQuery::user, "", true},
        {&CAuditQuery::user, "bob", true},
        {&CAuditQuery::user, "Bob", false},
        {&CAuditQuery::mac, "001a2b3c4d5e", true},
        {&CAuditQuery::mac, "00-11-22-33-44-55", true},
        {&CAuditQuery::mac, "00:11:22:33:44:56", false},
        {&CAuditQuery::event, "query", true},
        {&CAuditQuery::event, "login", false},
        {&CAuditQuery::since, time, true},
        {&CAuditQuery::since, time.substr(0, 10), true},
        {&CAuditQuery::since, time.substr(0, 4) + "9", false},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        CAuditQuery query;
        query.*cases[i].field = cases[i].value;
        EXPECT_EQ(query.Matches(record), cases[i].bMatches) << "case " << i;
    }
    const Clock::time_point now{std::chrono::hours(48)};
    EXPECT_EQ(CAuditQuery::SinceText("1d", now), "1970-01-02T00:00:00.000Z");
    EXPECT_EQ(CAuditQuery::SinceText("90m", now), "1970-01-02T22:30:00.000Z");
    EXPECT_EQ(CAuditQuery::SinceText("2026-12-09 21:00", now), "2026-12-09T21:00");
    for (const char* bad : {"", "d", "yesterday", "2026/12/09", "12x"}) {
        EXPECT_FALSE(CAuditQuery::SinceText(bad, now)) << bad;
    }
    for (const char* bad : {"", "{", "{\"a\":}", "{\"a\":[1]}", "{\"a\":\"b\"} x", "[]"}) {
        EXPECT_FALSE(CAuditRecord::ParseJsonLine(bad)) << bad;
    }
}

} // namespace

TEST(AuditRecords, EachEventCarriesItsFieldsInOrder) {
    const struct {
        CAuditRecord record;
        std::string_view members; // after the time
    } cases[] = {
        {StartRecord("/s/registry.db", 7),
         R"("event":"start","source":"service","store":"/s/registry.db","pid":7)"},
        {StopRecord(7), R"("event":"stop","source":"service","pid":7)"},
        {AddressConflictRecord(u"02:00:00:00:00:01", u"10.0.0.1", "10.0.0.66"),
         R"("event":"address-conflict","source":"discovery","mac":"02:00:00:00:00:01",)"
         R"("ip":"10.0.0.1","announcedAt":"10.0.0.66")"},
        {ArrayPresenceRecord({EArrayPresence::Left, u"02:00:00:00:00:01", u"10.0.0.1", u"sys", 0}),
         R"("event":"array-left","source":"discovery","mac":"02:00:00:00:00:01",)"
         R"("ip":"10.0.0.1","system":"sys")"},
        {ArrayPresenceRecord({EArrayPresence::Back, u"", u"10.0.0.2", u"", 0}),
         R"("event":"array-back","source":"discovery","mac":"","ip":"10.0.0.2","system":"")"},
        {ArrayPresenceRecord({EArrayPresence::Left, u"ignored", u"", u"", 12}),
         R"("event":"array-left","source":"discovery","count":12)"},
        {ConfigFileRecord("export", "orvanectl", "/t/a.ovx", ""),
         R"("event":"export","source":"orvanectl","file":"/t/a.ovx","result":"done")"},
        {ConfigFileRecord("import", "console", "/t/a.ovx", "Bad file"),
         R"("event":"import","source":"console","file":"/t/a.ovx","result":"Bad file")"},
        {ThrottledRecord("bob", true),
         R"("event":"throttled","source":"service","user":"bob","reason":"address blocked")"},
        {ThrottledRecord("bob", false),
         R"("event":"throttled","source":"service","user":"bob","reason":"user name slowed")"},
        {CredentialsRefusedRecord("bob"),
         R"("event":"credentials-refused","source":"service","user":"bob")"},
        {PushAcceptedRecord("m", "10.0.0.1"),
         R"("event":"push","source":"service","mac":"m","result":"accepted","address":"10.0.0.1")"},
        {PushRefusedRecord("m", "no login"),
         R"("event":"push","source":"service","mac":"m","result":"refused","reason":"no login")"},
    };
    for (const auto& c : cases) {
        const std::string line = c.record.JsonLine(Clock::time_point{});
        const std::string expected = R"({"time":")" + CAuditRecord::TimeText(Clock::time_point{}) +
                                     R"(",)" + std::string(c.members) + "}\n";
        EXPECT_EQ(line, expected);
        EXPECT_TRUE(IsAuditEventKind(c.record.Event())) << c.record.Event();
    }
    EXPECT_FALSE(IsAuditEventKind("array-gone"));
}
