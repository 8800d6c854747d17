// The storage server list document and the password update, against a directory core filled
// through its operations.
#include "service/answers/AdminPasswordUpdate.h"
#include "service/answers/ServerListDocument.h"
#include "tests/service/ServiceTestSupport.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

class Document : public svctest::CServiceTest {
protected:
    std::string Build(std::string_view user) {
        std::string doc;
        m_pCore->Read(
            [&](const CTablesView& tables) { BuildServerListDocument(tables, user, doc); });
        return doc;
    }
    std::string_view Update(std::string_view key, std::string_view line,
                            std::string_view from = "10.0.0.1") {
        auto result = EPasswordUpdate::NoServer;
        m_pCore->ChangeServers(
            [&](CServerTable& servers) { result = UpdateAdminPassword(servers, key, from, line); });
        return PasswordUpdateAnswer(result);
    }
    std::u16string PasswordOf(const std::u16string& mac) {
        return m_pCore->ServerRecord(mac)->m_strLoginPasswd;
    }
};

constexpr std::string_view kServerA =
    "<StorageServer Product=\"Vault\" Type=\"SAN\" SystemName=\"array-00:11\" MAC=\"00:11\" "
    "IPAddr=\"10.0.0.1\" LoginUserName=\"root\" LoginPasswd=\"secret\"/>";

TEST_F(Document, AdminGetsYesAndAnUnknownUserGetsAnEmptyNoDocument) {
    EXPECT_EQ(Build("admin"), "<StorageServers AdminGroup=\"Yes\"></StorageServers>");
    EXPECT_EQ(Build(""), "<StorageServers AdminGroup=\"No\"></StorageServers>");
    EXPECT_EQ(Build("ghost"), "<StorageServers AdminGroup=\"No\"></StorageServers>");
}

TEST_F(Document, OnlyTheExactGroupNameMakesAnAdministrator) {
    AddUser(u"lower", u"x", {u"administrator"});
    AddGroup(u"administrator", {u"lower"});
    AddUser(u"dangling", u"x", {u"Administrator2", u"Administrator"});
    EXPECT_EQ(Build("lower"), "<StorageServers AdminGroup=\"No\"></StorageServers>");
    EXPECT_EQ(Build("dangling"), "<StorageServers AdminGroup=\"Yes\"></StorageServers>");
}

TEST_F(Document, AServerReachedThroughTwoGroupsIsListedOnce) {
    AddServer("00:11", "10.0.0.1");
    AddUser(u"op", u"x");
    AddGroup(u"g1", {u"op"}, {u"00:11"});
    AddGroup(u"g2", {u"op"}, {u"00:11", u"ff:ff"});
    EXPECT_EQ(Build("op"),
              "<StorageServers AdminGroup=\"No\">" + std::string(kServerA) + "</StorageServers>");
}

TEST_F(Document, AnAccessEntrySpelledOtherwiseReachesItsArrayOnce) {
    AddServer("00:11", "10.0.0.1");
    AddUser(u"op", u"x");
    AddGroup(u"typed", {u"op"}, {u"00-11"});
    AddGroup(u"exact", {u"op"}, {u"00:11"});
    EXPECT_EQ(Build("op"),
              "<StorageServers AdminGroup=\"No\">" + std::string(kServerA) + "</StorageServers>");
}

TEST_F(Document, AbsentAndNeverLoggedInServersAreLeftOut) {
    AddServer("00:11", "10.0.0.1");
    AddServer("00:22", "10.0.0.2", /*bAuthorized=*/false);
    AddServer("00:33", "10.0.0.3", true, /*bOnline=*/false);
    AddServer("00:44", "10.0.0.4");
    AddUser(u"op", u"x");
    // The MAC is matched exactly: other letter case reaches nothing.
    AddGroup(u"g", {u"op"}, {u"00:11", u"00:22", u"00:33", u"00:aa"});
    EXPECT_EQ(Build("op"),
              "<StorageServers AdminGroup=\"No\">" + std::string(kServerA) + "</StorageServers>");
}

TEST_F(Document, ValuesAreEscapedSoThatNoElementCanBeForged) {
    auto record = std::make_unique<CServerData>();
    record->SetMAC("m1");
    record->SetSystemName("x\"/><StorageServer MAC=\"evil");
    record->SetProduct("A&B");
    record->SetType("<'>");
    record->m_bAuthorized = 1;
    record->m_strLoginUserName = u"r\"oot";
    record->m_strLoginPasswd = u"p\"&'<>";
    m_pCore->ChangeServers([&](CServerTable& servers) { servers.Add(u"m1", std::move(record)); });
    AddUser(u"op", u"x");
    AddGroup(u"g", {u"op"}, {u"m1"});
    EXPECT_EQ(Build("op"), "<StorageServers AdminGroup=\"No\"><StorageServer Product=\"A&amp;B\" "
                           "Type=\"&lt;&apos;&gt;\" SystemName=\"x&quot;/&gt;&lt;StorageServer "
                           "MAC=&quot;evil\" MAC=\"m1\" IPAddr=\"\" LoginUserName=\"r&quot;oot\" "
                           "LoginPasswd=\"p&quot;&amp;&apos;&lt;&gt;\"/></StorageServers>");
}

TEST_F(Document, ALargeDocumentIsComplete) {
    std::vector<std::u16string> access;
    for (int i = 0; i < 400; ++i) {
        const std::string mac = "mac-" + std::to_string(i);
        AddServer(mac, "10.0.1.1", true, true, std::u16string(300, u'&'));
        access.emplace_back(mac.begin(), mac.end());
    }
    AddUser(u"op", u"x");
    AddGroup(u"g", {u"op"}, access);
    const std::string doc = Build("op");
    EXPECT_GT(doc.size(), 400u * 1500u);
    EXPECT_TRUE(doc.ends_with("\"/></StorageServers>"));
    std::size_t count = 0;
    for (std::size_t at = doc.find("<StorageServer "); at != std::string::npos;
         at = doc.find("<StorageServer ", at + 1)) {
        ++count;
    }
    EXPECT_EQ(count, 400u);
}

// A resolution kept from one document to the next must show every change the way one made
// afresh does: the records' addresses are reused only while the table's set of records and the
// access lists stand.
TEST_F(Document, AKeptResolutionFollowsEveryChangeOfAccessListsAndRecords) {
    AddServer("00:11", "10.0.0.1");
    AddServer("00:22", "10.0.0.2");
    AddUser(u"op", u"x");
    AddGroup(u"g1", {u"op"}, {u"00:11", u"00:22", u"00:33"});
    AddGroup(u"g2", {u"op"}, {u"00:22"});
    const auto onServers = [this](const std::function<void(CServerTable&)>& f) {
        m_pCore->ChangeServers(f);
    };
    struct Step {
        const char* what;
        std::function<void()> change;
        const char* listed;
    };
    const Step steps[] = {
        {"as filed", [] {}, "00:11,00:22"},
        {"a record filed for an access entry", [&] { AddServer("00:33", "10.0.0.3"); },
         "00:11,00:22,00:33"},
        {"the access list changed",
         [&] {
             auto carrier = std::make_unique<CGroupData>(u"g1");
             carrier->m_listAccess = {u"00:33", u"00:11"};
             m_pCore->SendMessage(CDirectoryMessage::SetGroupAccess(false, std::move(carrier)));
         },
         "00:33,00:11,00:22"},
        {"a record removed", [&] { onServers([](CServerTable& t) { t.Remove(u"00:11"); }); },
         "00:33,00:22"},
        {"a record filed again at another address",
         [&] {
             onServers([](CServerTable& t) { t.Remove(u"00:22"); });
             AddServer("00:22", "10.0.0.9");
         },
         "00:33,00:22"},
        {"a pushed password",
         [&] { onServers([](CServerTable& t) { t.Find(u"00:33")->SetLoginPasswd(u"new"); }); },
         "00:33,00:22"},
        {"a record logged out",
         [&] { onServers([](CServerTable& t) { t.Find(u"00:33")->Deauthorize(); }); }, "00:22"},
    };
    CAccessResolution kept;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        std::string keptDoc;
        std::string freshDoc;
        CServedServers served;
        m_pCore->Read([&](const CTablesView& tables) {
            BuildServerListDocument(tables, "op", keptDoc, &served, &kept);
            BuildServerListDocument(tables, "op", freshDoc);
        });
        EXPECT_EQ(keptDoc, freshDoc);
        EXPECT_EQ(served.macs, step.listed);
    }
}

TEST_F(Document, PasswordUpdateAnswersAndStripsTrailingWhiteSpace) {
    AddServer("00:11", "10.0.0.1");
    AddServer("00:22", "10.0.0.2", /*bAuthorized=*/false, /*bOnline=*/false);
    AddServer("00:33", "10.0.0.3", true, /*bOnline=*/false);
    EXPECT_EQ(Update("00:11", "  new pass \t\r\n"), kUpdateDone);
    EXPECT_EQ(PasswordOf(u"00:11"), u"  new pass");
    EXPECT_EQ(Update("00:33", "\r\n", "10.0.0.3"), kUpdateDone);
    EXPECT_EQ(PasswordOf(u"00:33"), u"");
    EXPECT_EQ(Update("00:22", "x\n", "10.0.0.2"), kUpdateNoServer);
    EXPECT_EQ(PasswordOf(u"00:22"), u"secret");
    EXPECT_EQ(Update("00:1A", "x\n"), kUpdateNoServer);
    EXPECT_EQ(Update("10.0.0.1", "x\n"), kUpdateNoServer);
    EXPECT_EQ(Update("", "x\n"), kUpdateNoServer);
}

TEST_F(Document, APushIsTakenOnlyFromTheAddressThatTheLoginWentTo) {
    AddServer("00:11", "10.0.0.1");
    AddServer("00:22", "10.0.0.2", /*bAuthorized=*/false);
    // Logged in to at 10.0.0.3, announced at another address since.
    AddServer("00:33", "10.0.0.3");
    m_pCore->ChangeServers(
        [](CServerTable& servers) { servers.Find(u"00:33")->SetIPAddr("10.0.0.66"); });
    struct Case {
        const char* key;
        const char* from;
        EPasswordUpdate result;
    };
    const Case cases[] = {
        {"00:11", "10.0.0.2", EPasswordUpdate::OtherAddress},
        {"00:11", "10.0.0.10", EPasswordUpdate::OtherAddress},
        {"00:11", "10.0.0.", EPasswordUpdate::OtherAddress},
        {"00:11", "", EPasswordUpdate::OtherAddress},
        {"00:11", "10.0.0.1 ", EPasswordUpdate::OtherAddress},
        {"00:33", "10.0.0.66", EPasswordUpdate::OtherAddress},
        {"00:22", "10.0.0.2", EPasswordUpdate::NotAuthorized},
        {"00:99", "10.0.0.1", EPasswordUpdate::NoServer},
    };
    for (const Case& c : cases) {
        auto result = EPasswordUpdate::NoServer;
        m_pCore->ChangeServers([&](CServerTable& servers) {
            result = UpdateAdminPassword(servers, c.key, c.from, "x\n");
        });
        EXPECT_EQ(result, c.result) << c.key << " from " << c.from;
        // A stranger cannot tell one refusal from another.
        EXPECT_EQ(PasswordUpdateAnswer(result), kUpdateNoServer) << c.key << " from " << c.from;
    }
    for (const char16_t* mac : {u"00:11", u"00:22", u"00:33"}) {
        EXPECT_EQ(PasswordOf(mac), u"secret");
    }
    EXPECT_EQ(Update("00:33", "new\n", "10.0.0.3"), kUpdateDone);
    EXPECT_EQ(PasswordOf(u"00:33"), u"new");
    // The next list carries the pushed password, and the refused pushes changed nothing.
    AddUser(u"op", u"x");
    AddGroup(u"g", {u"op"}, {u"00:11", u"00:33"});
    EXPECT_EQ(Build("op"), "<StorageServers AdminGroup=\"No\">" + std::string(kServerA) +
                               "<StorageServer Product=\"Vault\" Type=\"SAN\" "
                               "SystemName=\"array-00:33\" MAC=\"00:33\" IPAddr=\"10.0.0.66\" "
                               "LoginUserName=\"root\" LoginPasswd=\"new\"/></StorageServers>");
}

} // namespace
