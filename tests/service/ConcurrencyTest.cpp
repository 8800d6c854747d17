// Many "/Query" and password-update clients at once while the window thread adds and deletes
// users, groups and servers: every answer must be complete and well formed (and, under
// ThreadSanitizer, no access may race).
#include "core/CDirectoryMessage.h"
#include "platform/text/Base64.h"
#include "service/answers/AdminPasswordUpdate.h"
#include "tests/service/ServiceTestSupport.h"
#include "tests/support/WaitUntil.h"

#include <atomic>
#include <gtest/gtest.h>
#include <regex>
#include <thread>
#include <vector>

namespace {

using svctest::Exchange;

class Concurrency : public svctest::CServiceTest {};

TEST_F(Concurrency, ClientsAndDirectoryChangesOverlap) {
    for (int i = 0; i < 20; ++i) {
        // The pushes come from loopback: the servers' address must be that for them to land.
        AddServer("mac-" + std::to_string(i), "127.0.0.1");
    }
    std::vector<std::u16string> access;
    for (int i = 0; i < 20; ++i) {
        access.push_back(u"mac-" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10)));
    }
    AddGroup(u"Everyone", {u"admin"}, access);
    CServiceOptions options = ShortOptions();
    options.nWaitMs = 3000;
    // Queries that race a deletion of admin fail; they are not guesses to be throttled.
    options.nMaxFailedChecks = 1 << 30;
    StartService(options);

    std::atomic<bool> bStop{false};
    std::atomic<int> nBad{0};
    std::atomic<int> nAnswers{0};
    const std::regex document(
        "^HTTP/1\\.0 200 OK\r\n[^]*\r\n\r\n<StorageServers AdminGroup=\"(Yes|No)\">"
        "(<StorageServer [^<>]*/>)*</StorageServers>$");
    const std::regex update(
        "^HTTP/1\\.0 200 OK\r\n[^]*\r\n\r\n<Response><ErrCode>(0|-1|-2)</ErrCode>.*");
    std::vector<std::thread> clients;
    for (int c = 0; c < 6; ++c) {
        clients.emplace_back([&, c] {
            int n = 0;
            while (!bStop) {
                const bool bQuery = (c + n++) % 3 != 0;
                const std::string response =
                    bQuery
                        ? Exchange(Port(), "POST /Query HTTP/1.0\r\nAuthorization: Basic " +
                                               Base64Encode("admin:9983") + "\r\n\r\nx\n")
                        : Exchange(Port(), "POST /UpdateAdminPasswd?mac-" + std::to_string(n % 20) +
                                               " HTTP/1.0\r\n\r\npw" + std::to_string(n) + "\r\n");
                // A request that raced a deletion of admin is refused; anything else is whole.
                if (!response.starts_with("HTTP/1.0 401") &&
                    !std::regex_match(response, bQuery ? document : update)) {
                    ++nBad;
                }
                ++nAnswers;
            }
        });
    }
    // The window thread: directory operations and discovery-like table changes, until the
    // clients have had their answers and every server has been replaced twice; the deadline
    // only stops a service that answers nobody.
    constexpr int kMinRounds = 40;
    constexpr int kMinAnswers = 200;
    const auto deadline = std::chrono::steady_clock::now() + kEventDeadline;
    int round = 0;
    for (; round < kMinRounds ||
           (nAnswers < kMinAnswers && std::chrono::steady_clock::now() < deadline);
         ++round) {
        AddUser(u"u" + std::u16string(1, static_cast<char16_t>(u'a' + round % 26)), u"pw",
                {u"Everyone"});
        m_pCore->SendMessage(CDirectoryMessage::DeleteUser(
            false, u"u" + std::u16string(1, static_cast<char16_t>(u'a' + (round + 13) % 26))));
        AddGroup(u"Everyone", {u"admin"}, round % 2 ? access : std::vector<std::u16string>{});
        if (round % 7 == 0) {
            m_pCore->SendMessage(CDirectoryMessage::DeleteUser(false, u"admin"));
            AddUser(u"admin", u"9983", {u"Administrator", u"Everyone"});
        }
        const std::string mac = "mac-" + std::to_string(round % 20);
        m_pCore->ChangeServers(
            [&](CServerTable& servers) { servers.Remove(std::u16string(mac.begin(), mac.end())); });
        AddServer(mac, "127.0.0.1", round % 3 != 0);
        m_pCore->ChangeServers([](CServerTable& servers) { servers.BeginPass(); });
        std::this_thread::yield();
    }
    bStop = true;
    for (auto& t : clients) {
        t.join();
    }
    EXPECT_EQ(nBad.load(), 0);
    EXPECT_GE(nAnswers.load(), kMinAnswers) << "in " << round << " rounds";
}

} // namespace
