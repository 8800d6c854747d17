// The kept "/Query" answers: bounded, dropped least recently used first, never handed out for
// tables that changed since; and, with the running service's cache warm, every way a listed
// value changes shows in the very next answer.
#include "service/answers/CQueryCache.h"
#include "tests/service/ServiceTestSupport.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

TEST(QueryCache, KeepsTheRecentAnswersOfTheCurrentGenerationWithinItsBudget) {
    constexpr std::size_t kBody = 1000;
    CQueryCache cache(3 * kBody); // two answers and their overhead, not three
    // Each step: a user, the generation composed under; "F" is too big to keep.
    for (const std::string_view step : {"a1", "b1", "a1", "c1", "d2", "e1", "F2"}) {
        const std::string user(1, step[0]);
        const uint64_t generation = step[1] - '0';
        if (!cache.Find(user, generation)) { // "a" is found: "b" becomes the least recent
            auto answer = std::make_shared<CCachedQuery>();
            answer->body.assign(user == "F" ? 4 * kBody : kBody, 'x');
            cache.Store(user, generation, std::move(answer));
        }
    }
    // "b" was dropped for "c"; generation 2 dropped the rest; "e" is too old.
    EXPECT_TRUE(cache.Find("d", 2));
    EXPECT_FALSE(cache.Find("a", 2) || cache.Find("c", 2) || cache.Find("e", 1) ||
                 cache.Find("F", 2));
    // A budget of 0 is the cache turned off: even the smallest answer is composed every time.
    CQueryCache off(0);
    off.Store("a", 1, std::make_shared<CCachedQuery>());
    EXPECT_FALSE(off.Find("a", 1));
}

class QueryCacheService : public svctest::CServiceTest {
protected:
    std::string Query() { return svctest::Exchange(Port(), svctest::QueryRequest("op:pw")); }
    // As discovery and logins change a record: under the exclusive guard.
    std::function<void()> Server(std::function<void(CServerData&)> change) {
        return [this, change] {
            m_pCore->ChangeServers([&](CServerTable& servers) { change(*servers.Find(u"00:11")); });
        };
    }
    // The console's changes: the group's access list, then the user's groups.
    std::function<void()> Directory(std::vector<std::u16string> groups,
                                    std::vector<std::u16string> access) {
        return [this, groups, access] {
            auto group = std::make_unique<CGroupData>(u"g");
            group->m_listAccess = access;
            m_pCore->SendMessage(CDirectoryMessage::SetGroupAccess(false, std::move(group)));
            auto user = std::make_unique<CUserData>(u"op", u"pw");
            user->m_listGroups = groups;
            m_pCore->SendMessage(CDirectoryMessage::ModifyUser(false, std::move(user)));
        };
    }
};

TEST_F(QueryCacheService, EveryChangeShowsInTheNextAnswerWhileTheCacheIsWarm) {
    AddServer("00:11", "127.0.0.1");
    AddServer("00:22", "10.0.0.2");
    AddUser(u"op", u"pw", {u"g"});
    AddGroup(u"g", {u"op"}, {u"00:11"});
    StartService();
    const std::pair<std::function<void()>, std::string> steps[] = {
        {[&] { svctest::Exchange(Port(), "POST /UpdateAdminPasswd?00:11 HTTP/1.0\r\n\r\nnew\n"); },
         R"(LoginPasswd="new")"},
        {Server([](CServerData& s) { s.SetSystemName("renamed"); }), R"(SystemName="renamed")"},
        {Server([](CServerData& s) { s.SetLoginCredentials(u"r2", u"in"); }),
         R"(LoginUserName="r2" LoginPasswd="in")"},
        {Directory({u"g"}, {u"00:11", u"00:22"}), R"(MAC="00:22")"},
        {Server([](CServerData& s) { s.m_bOnline = 0; }), R"(No"><StorageServer Product="Vault" )"
                                                          R"(Type="SAN" SystemName="array-00:22")"},
        {Directory({u"g", u"Administrator"}, {u"00:22"}), R"(AdminGroup="Yes")"},
        {[&] { // an imported "op" of no group
             CUserTable users;
             users[u"op"] = std::make_unique<CUserData>(u"op", u"pw");
             m_pCore->MergeImported({}, std::move(users));
         },
         R"(="No"></StorageServers>)"},
    };
    for (const auto& [change, expected] : steps) {
        Query();
        EXPECT_EQ(Query().find(expected), std::string::npos) << expected;
        change();
        EXPECT_NE(Query().find(expected), std::string::npos) << expected;
    }
}

} // namespace
