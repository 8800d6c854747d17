// Directory users on "/Query" through the service, against slapd on the throw-away database
// (tests/support/ldap) inside a network namespace of this test process's own: a sign-in kept in
// the cache answers only to the same name and password, and a change of the DNs that name a group
// shows in the next answer although the sign-in is still kept.
#include "core/CDirectoryMessage.h"
#include "core/settings/CProgramSettings.h"
#include "tests/service/ServiceTestSupport.h"
#include "tests/support/NetworkNamespace.h"
#include "tests/support/TestGate.h"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>

namespace {

const std::u16string kAdmins = u"cn=storage-admins,ou=groups,dc=orvane,dc=lab";

class LdapQueryLab : public svctest::CServiceTest {
protected:
    void SetUp() override {
        ORVANE_GATE("netns", "slapd", "slapadd", "ldapsearch", "openssl");
        ASSERT_TRUE(IsolateInOwnNetworkNamespace())
            << "cannot isolate the test in a network namespace";
        // As in the programs: libldap's TLS writes to a server that has gone raise SIGPIPE,
        // which would end the test when the pool unbinds after slapd stopped.
        std::signal(SIGPIPE, SIG_IGN);
        ASSERT_EQ(Fixture("start " + m_ldap.Path().string() + " 3890 6360"), 0);
        CServiceTest::SetUp();
        m_ldap.Write("reader.pw", "reader-pass\n");
        ::chmod((m_ldap / "reader.pw").c_str(), 0600);
        m_ldap.Write("orvanesrv.conf", "[ldap]\nuri = ldaps://127.0.0.1:6360\nca_file = ca.pem\n"
                                       "base = dc=orvane,dc=lab\n"
                                       "bind_dn = cn=reader,dc=orvane,dc=lab\n"
                                       "bind_password_file = reader.pw\n"
                                       "group_filter = (&(objectClass=groupOfNames)(member=%s))\n");
        const SSettingsLoad load = CProgramSettings::Load(m_ldap / "orvanesrv.conf");
        ASSERT_TRUE(load.ldap) << (load.error ? load.error->Text() : "no [ldap]");
        m_pUsers = std::make_shared<CLdapUsers>(*load.ldap);
        m_pCore->SetLdapUsers(m_pUsers);
    }
    void TearDown() override {
        CServiceTest::TearDown();
        Fixture("stop " + m_ldap.Path().string());
    }

    static int Fixture(const std::string& arguments) {
        return std::system((std::string(ORVANE_SOURCE_DIR) +
                            "/tests/support/ldap/slapd-fixture.sh " + arguments + " >/dev/null")
                               .c_str());
    }
    // The group with these members, named by these directory groups; its access stays.
    void MapGroup(const std::u16string& name, std::vector<std::u16string> dns,
                  std::vector<std::u16string> members = {}) {
        auto group = std::make_unique<CGroupData>(name);
        group->m_listDirectoryGroups = std::move(dns);
        group->m_listUsers = std::move(members);
        m_pCore->SendMessage(CDirectoryMessage::ModifyGroup(false, std::move(group)));
    }
    // "401", or the servers of the answer by MAC.
    std::string Query(const std::string& credentials) const {
        const std::string answer = svctest::Exchange(Port(), svctest::QueryRequest(credentials));
        if (!answer.starts_with("HTTP/1.0 200")) {
            return answer.substr(0, answer.find("\r\n"));
        }
        std::string macs;
        for (const char* mac : {"00:11", "00:22"}) {
            macs += answer.find(mac) != std::string::npos ? std::string(mac) + " " : "";
        }
        return macs;
    }

    CTempDir m_ldap;
    std::shared_ptr<CLdapUsers> m_pUsers;
};

TEST_F(LdapQueryLab, ACachedSignInTakesOnlyItsPasswordAndFollowsTheGroupsMapping) {
    AddServer("00:11", "10.0.0.11");
    AddServer("00:22", "10.0.0.22");
    AddGroup(u"ops", {}, {u"00:11"});
    AddGroup(u"other", {}, {u"00:22"});
    AddUser(u"carol", u"carol-pass", {u"other"});
    MapGroup(u"ops", {kAdmins});
    StartService();
    const std::string refused = "HTTP/1.0 401 Unauthorized";
    const struct {
        const char* credentials;
        std::string expected;
    } before[] = {
        {"alice:alice-pass", "00:11 "}, // signed in at the directory
        {"alice:alice-pass", "00:11 "}, // from the cache
        {"alice:wrong", refused},       // the cache answers only its own password
        {"bob:bob-pass", refused},      // in no group that a group of ours names
    };
    for (const auto& step : before) {
        EXPECT_EQ(Query(step.credentials), step.expected) << step.credentials;
    }
    // Alice's sign-in stays cached; the groups she is given follow the tables at once.
    MapGroup(u"ops", {u"cn=nobody,dc=orvane,dc=lab"});
    EXPECT_EQ(Query("alice:alice-pass"), refused);
    MapGroup(u"other", {kAdmins}, {u"carol"});
    EXPECT_EQ(Query("alice:alice-pass"), "00:22 ");
    EXPECT_EQ(Query("carol:carol-pass"), "00:22 ");
    const SLdapStatus status = m_pUsers->Status();
    EXPECT_EQ(status.nSignIns, 2u); // alice and bob: the directory was asked once each
    EXPECT_EQ(status.nCacheHits, 3u);
}

} // namespace
