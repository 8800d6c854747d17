// The credential service against clients that try to get what is not theirs: files that hold
// the directory whatever their name, more connections than one address may hold, headers that
// never end, guesses at one user name spread over many addresses, a body held back until the
// password its headers carried has changed.
#include "core/CConfigFile.h"
#include "core/CDirectoryMessage.h"
#include "platform/text/Base64.h"
#include "service/http/HttpResponses.h"
#include "tests/service/ServiceTestSupport.h"
#include "tests/support/WaitUntil.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using svctest::CClient;
using svctest::Exchange;
using svctest::ExchangeFrom;

constexpr std::string_view kAdminDocument = "<StorageServers AdminGroup=\"Yes\"></StorageServers>";
constexpr std::string_view kGetMissing = "GET /missing.htm HTTP/1.0\r\n\r\n";

class HostileClient : public svctest::CServiceTest {};

std::string Bytes(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

TEST_F(HostileClient, NoFileThatBeginsLikeAnExportIsServedWhateverItsName) {
    CUserTable users;
    users[u"bob"] = std::make_unique<CUserData>(u"bob", u"secret");
    CGroupTable groups;
    groups[u"ops"] = std::make_unique<CGroupData>(u"ops");
    CGroupTable manyGroups;
    for (int i = 0; i < 0xFFFF; ++i) {
        const std::u16string name = u"g" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                                    std::u16string(1, static_cast<char16_t>(0x100 + i / 26));
        manyGroups[name] = std::make_unique<CGroupData>(name);
    }
    struct {
        const char* name;
        std::string content;
        bool bServed;
    } const cases[] = {
        {"backup.cfg", Bytes(CConfigFile::Serialize(groups, users)), false},
        {"users-only.txt", Bytes(CConfigFile::Serialize({}, users)), false},
        {"empty.bin", Bytes(CConfigFile::Serialize({}, {})), false},
        {"long-count.dat", Bytes(CConfigFile::Serialize(manyGroups, {})).substr(0, 64), false},
        {"zeros.bin", std::string(8, '\0'), true},
        {"short.bin", std::string(2, '\0'), true},
        {"page.htm", "<html>ok</html>", true},
        {"nothing.htm", "", true},
    };
    for (const auto& c : cases) {
        m_docRoot.Write(c.name, c.content);
    }
    StartService();
    for (const auto& c : cases) {
        const std::string response =
            Exchange(Port(), "GET /" + std::string(c.name) + " HTTP/1.0\r\n\r\n");
        if (c.bServed) {
            EXPECT_TRUE(response.starts_with("HTTP/1.0 200 OK\r\n")) << c.name;
            // No other site may frame a served page or have it taken for another type.
            EXPECT_NE(response.find("\r\nX-Content-Type-Options: nosniff\r\nX-Frame-Options: "
                                    "DENY\r\nContent-Security-Policy: frame-ancestors 'none'\r\n"),
                      std::string::npos)
                << c.name;
            EXPECT_TRUE(response.ends_with("\r\n\r\n" + c.content)) << c.name;
        } else {
            EXPECT_EQ(response, kNotFoundResponse) << c.name;
        }
    }
}

TEST_F(HostileClient, OneAddressHoldsItsShareOfConnectionsAndTheRestAreClosedAtOnce) {
    CServiceOptions options = ShortOptions();
    options.nMaxConnectionsPerAddress = 3;
    // Idle connections stay open for the whole test.
    options.nWaitMs = 10000;
    options.nRequestDeadlineMs = 20000;
    StartService(options);
    std::vector<std::unique_ptr<CClient>> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(std::make_unique<CClient>(Port(), "127.0.0.1"));
    }
    for (int i = 0; i < 2; ++i) {
        const CClient refused(Port(), "127.0.0.1");
        EXPECT_TRUE(refused.WaitClosed(std::chrono::seconds(3))) << i;
    }
    EXPECT_EQ(ExchangeFrom("127.0.0.2", Port(), kGetMissing), kNotFoundResponse);
    const std::string refusal = "OrvaneSrv: 127.0.0.1 holds 3 connections; further connections "
                                "from it are closed at once\n";
    EXPECT_EQ(m_pLog->Count(refusal), 1u) << m_pLog->Text();

    // A held connection that ends frees its place for the next one from that address.
    held[0]->Send(kGetMissing);
    EXPECT_EQ(held[0]->ReadAll(), kNotFoundResponse);
    held[0].reset();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    std::string again;
    while (again.empty() && std::chrono::steady_clock::now() < deadline) {
        again = ExchangeFrom("127.0.0.1", Port(), kGetMissing);
    }
    EXPECT_EQ(again, kNotFoundResponse);
}

TEST_F(HostileClient, TricklingClientsEndAtTheirDeadline) {
    // No pause of a trickle comes near the wait; only the deadline under test can end it. Were it
    // ignored, the bytes would fill the line buffer and end the request with another error.
    const struct {
        const char* name;
        int nHeaderDeadlineMs;
        int nRequestDeadlineMs;
        bool bWholeLines;
    } cases[] = {
        {"bytes of one header line, request deadline", 10000, 100, false},
        {"whole header lines, header deadline", 300, 20000, true},
    };
    const std::string timeout = "WINSOCK ERROR--SERVER: Request timeout error -- ";
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        StopService();
        CServiceOptions options = ShortOptions();
        options.nWaitMs = 600000;
        options.nHeaderDeadlineMs = c.nHeaderDeadlineMs;
        options.nRequestDeadlineMs = c.nRequestDeadlineMs;
        StartService(options);
        CClient trickle(Port());
        trickle.Send("POST /Query HTTP/1.0\r\n");
        bool bClosed = false;
        for (int n = 0; n < 2000 && !bClosed; ++n) {
            trickle.Send(c.bWholeLines ? "X-Line: " + std::to_string(n) + "\r\n" : "X");
            bClosed = trickle.WaitClosed(std::chrono::milliseconds(5));
        }
        EXPECT_TRUE(bClosed) << c.name;
        EXPECT_TRUE(WaitUntil([&] { return m_pLog->Count(timeout) > i; })) << c.name;
    }
}

TEST_F(HostileClient, GuessesAtOneNameAreCheckedOnceASecondForTheAddressesThatFailedIt) {
    auto clock = std::make_shared<std::atomic<int64_t>>(0);
    CServiceOptions options = ShortOptions();
    options.nMaxFailedChecksPerName = 5;
    options.clock = [clock] {
        return std::chrono::steady_clock::time_point(std::chrono::seconds(clock->load()));
    };
    StartService(options);
    auto query = [&](const std::string& from, std::string_view credentials) {
        const std::string response = ExchangeFrom(from, Port(), svctest::QueryRequest(credentials));
        return response.starts_with("HTTP/1.0 401")
                   ? std::string("401")
                   : response.substr(response.find("\r\n\r\n") + 4);
    };
    // The sixth comes from an address that has not failed the name yet: it is checked too.
    for (int i = 1; i <= 6; ++i) {
        EXPECT_EQ(query("127.0.1." + std::to_string(i), "admin:guess"), "401") << i;
    }
    EXPECT_EQ(query("127.0.2.1", "admin:9983"), kAdminDocument);
    EXPECT_EQ(query("127.0.1.1", "admin:9983"), "401"); // within the second: not checked
    *clock = 1;
    EXPECT_EQ(query("127.0.1.1", "admin:9983"), kAdminDocument);

    EXPECT_EQ(m_pLog->Count("OrvaneSrv: credentials refused for user \"admin\" from "), 6u)
        << m_pLog->Text();
    const std::string slowed =
        "OrvaneSrv: checks for user \"admin\" from the addresses that failed it slowed down to "
        "one every 1000 ms after 5 failed credential checks within 60 seconds\n";
    EXPECT_EQ(m_pLog->Count(slowed), 1u) << m_pLog->Text();
}

TEST_F(HostileClient, ABodyHeldBackPastAChangeOfItsUserGetsTheCanned401) {
    // The throttle reads the clock as it admits a check and as the check ends: two reads, and the
    // headers' credentials have been checked.
    auto reads = std::make_shared<std::atomic<int>>(0);
    CServiceOptions options = ShortOptions();
    options.nWaitMs = 600000;
    options.nRequestDeadlineMs = 600000;
    options.clock = [reads] {
        ++*reads;
        return std::chrono::steady_clock::time_point{};
    };
    StartService(options);
    AddUser(u"bob", u"pw");
    auto modify = [this](const std::u16string& name, const std::u16string& password) {
        m_pCore->SendMessage(
            CDirectoryMessage::ModifyUser(false, std::make_unique<CUserData>(name, password)));
    };
    const struct {
        const char* name;
        std::function<void(const std::u16string& user)> change;
        bool bServed;
    } cases[] = {
        {"nothing changed", [](const std::u16string&) {}, true},
        {"another user's password changed", [&](const std::u16string&) { modify(u"bob", u"new"); },
         true},
        {"the same password set again", [&](const std::u16string& user) { modify(user, u"pw"); },
         true},
        {"her password changed", [&](const std::u16string& user) { modify(user, u"new"); }, false},
        {"she was deleted",
         [&](const std::u16string& user) {
             m_pCore->SendMessage(CDirectoryMessage::DeleteUser(false, user));
         },
         false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const std::string name = "alice" + std::to_string(i);
        const std::u16string user(name.begin(), name.end());
        AddUser(user, u"pw");
        CClient client(Port());
        const int before = reads->load();
        client.Send("POST /Query HTTP/1.0\r\nAuthorization: Basic " + Base64Encode(name + ":pw") +
                    "\r\nContent-Length: 10\r\n\r\n01234");
        ASSERT_TRUE(WaitUntil([&] { return reads->load() >= before + 2; })) << c.name;
        c.change(user);
        client.Send("56789");
        const std::string response = client.ReadAll();
        if (c.bServed) {
            EXPECT_TRUE(response.starts_with("HTTP/1.0 200 OK\r\n")) << c.name << response;
        } else {
            EXPECT_EQ(response, UnauthorizedResponse()) << c.name;
        }
    }
}

} // namespace
