// The kept "/Query" answers: bounded, dropped least recently used first, never handed out
// for tables that changed since; and, through the running service with its cache warm, every
// way a listed value changes shows in the very next answer.
#include "service/CQueryCache.h"
#include "tests/service/ServiceTestSupport.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

std::shared_ptr<const CCachedQuery> Answer(std::size_t nBytes) {
    auto answer = std::make_shared<CCachedQuery>();
    answer->body.assign(nBytes, 'x');
    return answer;
}

TEST(QueryCache, KeepsTheRecentAnswersOfTheCurrentGenerationWithinItsBudget) {
    constexpr std::size_t kBody = 1000;
    CQueryCache cache(3 * kBody); // two answers and their overhead, not three
    cache.Store("a", 1, Answer(kBody));
    cache.Store("b", 1, Answer(kBody));
    ASSERT_TRUE(cache.Find("a", 1)); // "a" is now the more recently used
    cache.Store("c", 1, Answer(kBody));
    struct Case {
        const char* user;
        uint64_t generation;
        bool bFound;
    };
    const Case cases[] = {
        {"a", 1, true}, {"b", 1, false}, {"c", 1, true}, {"a", 2, false}, {"a", 0, false}};
    for (const Case& c : cases) {
        EXPECT_EQ(cache.Find(c.user, c.generation) != nullptr, c.bFound) << c.user;
    }
    // A later generation drops all, an earlier one is refused, one too big is not kept.
    cache.Store("d", 2, Answer(kBody));
    cache.Store("e", 1, Answer(kBody));
    cache.Store("f", 2, Answer(4 * kBody));
    EXPECT_FALSE(cache.Find("c", 2) || cache.Find("e", 1) || cache.Find("f", 2));
    EXPECT_TRUE(cache.Find("d", 2));
    cache.Clear();
    EXPECT_FALSE(cache.Find("d", 2));
    EXPECT_EQ(cache.Bytes(), 0u);
}

class QueryCacheService : public svctest::CServiceTest {
protected:
    std::string Query() { return svctest::Exchange(Port(), svctest::QueryRequest("op:pw")); }
    void WithServer(const std::function<void(CServerData&)>& change) {
        auto lock = m_pCore->Guard()->LockExclusive();
        change(*m_pCore->m_mapServers.Find(u"00:11"));
    }
    std::unique_ptr<CGroupData> Group(std::vector<std::u16string> access) {
        auto group = std::make_unique<CGroupData>(u"g");
        group->m_listUsers = {u"op"};
        group->m_listAccess = std::move(access);
        return group;
    }
    std::unique_ptr<CUserData> Op(std::vector<std::u16string> groups) {
        auto user = std::make_unique<CUserData>(u"op", u"pw");
        user->m_listGroups = std::move(groups);
        return user;
    }
};

TEST_F(QueryCacheService, EveryChangeShowsInTheNextAnswerWhileTheCacheIsWarm) {
    AddServer("00:11", "127.0.0.1");
    AddServer("00:22", "10.0.0.2");
    AddUser(u"op", u"pw", {u"g"});
    AddGroup(u"g", {u"op"}, {u"00:11"});
    StartService();
    struct Step {
        const char* name;
        std::function<void()> change; // through the path that makes it in the program
        std::string expected;         // in the next answer
    };
    const Step steps[] = {
        {"password push",
         [&] {
             svctest::Exchange(Port(), "POST /UpdateAdminPasswd?00:11 HTTP/1.0\r\n\r\npushed\r\n");
         },
         R"(LoginPasswd="pushed")"},
        {"sighting", [&] { WithServer([](CServerData& s) { s.SetSystemName("renamed"); }); },
         R"(SystemName="renamed")"},
        {"login",
         [&] { WithServer([](CServerData& s) { s.SetLoginCredentials(u"r2", u"logged"); }); },
         R"(LoginUserName="r2" LoginPasswd="logged")"},
        {"group access",
         [&] {
             m_pCore->SendMessage(
                 CDirectoryMessage::SetGroupAccess(false, Group({u"00:11", u"00:22"})));
         },
         R"(MAC="00:22")"},
        {"sweep", [&] { WithServer([](CServerData& s) { s.m_bOnline = 0; }); },
         R"(<StorageServers AdminGroup="No"><StorageServer Product="Vault" Type="SAN" )"
         R"(SystemName="array-00:22")"},
        {"user's groups",
         [&] {
             m_pCore->SendMessage(
                 CDirectoryMessage::ModifyUser(false, Op({u"g", u"Administrator"})));
         },
         R"(AdminGroup="Yes")"},
        {"import",
         [&] {
             CGroupTable groups;
             groups[u"g"] = Group({});
             CUserTable users;
             users[u"op"] = Op({u"g"});
             m_pCore->MergeImported(std::move(groups), std::move(users));
         },
         R"(<StorageServers AdminGroup="No"></StorageServers>)"},
    };
    for (const Step& step : steps) {
        Query();
        const std::string warm = Query();
        EXPECT_EQ(warm.find(step.expected), std::string::npos) << step.name;
        step.change();
        EXPECT_NE(Query().find(step.expected), std::string::npos) << step.name;
    }
}

} // namespace
