// Sign-in through a real directory: slapd on a throw-away database (tests/support/ldap), inside a
// network namespace of this test process's own with only its loopback, configured through the
// settings file as a site would.
#include "core/settings/CProgramSettings.h"
#include "platform/ldap/CLdapDirectory.h"
#include "tests/support/CTempDir.h"
#include "tests/support/NetworkNamespace.h"
#include "tests/support/TestGate.h"

#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <thread>

namespace {

constexpr int kPort = 3890;
constexpr int kTlsPort = 6360;
const std::string kAlice = "uid=alice,ou=people,dc=orvane,dc=lab";
const std::string kAdmins = "cn=storage-admins,ou=groups,dc=orvane,dc=lab";
const std::string kStaff = "cn=staff,ou=groups,dc=orvane,dc=lab";

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

class LdapSignInLab : public ::testing::Test {
protected:
    void SetUp() override {
        ORVANE_GATE("netns", "slapd", "slapadd", "ldapsearch", "openssl");
        ASSERT_TRUE(IsolateInOwnNetworkNamespace())
            << "cannot isolate the test in a network namespace";
        std::signal(SIGPIPE, SIG_IGN);
        ASSERT_EQ(Fixture("start"), 0);
    }
    void TearDown() override { Fixture("stop"); }

    int Fixture(const std::string& verb) const {
        std::string command = std::string(ORVANE_SOURCE_DIR) +
                              "/tests/support/ldap/slapd-fixture.sh " + verb + " " +
                              m_dir.Path().string();
        if (verb != "stop") {
            command += " " + std::to_string(kPort) + " " + std::to_string(kTlsPort);
        }
        return std::system(command.c_str());
    }

    // The directory as the settings file with these [ldap] lines configures it.
    CLdapDirectory Directory(const std::string& lines,
                             const std::string& readerPassword = "reader-pass") const {
        m_dir.Write("reader.pw", readerPassword + "\n");
        ::chmod((m_dir / "reader.pw").c_str(), 0600);
        m_dir.Write("orvanesrv.conf", "[ldap]\nbase = dc=orvane,dc=lab\n" + lines);
        SSettingsLoad load = CProgramSettings::Load(m_dir / "orvanesrv.conf");
        EXPECT_TRUE(load.Ok()) << load.error->Text();
        if (!load.ldap) {
            return CLdapDirectory({}, {});
        }
        return CLdapDirectory(load.ldap->ConnectionOptions(), load.ldap->DirectoryOptions());
    }

    CTempDir m_dir;
};

const std::string kLdaps = "uri = ldaps://127.0.0.1:6360\nca_file = ca.pem\n";
const std::string kStartTls = "uri = ldap://127.0.0.1:3890\nstarttls = true\nca_file = ca.pem\n";
const std::string kReader =
    "bind_dn = cn=reader,dc=orvane,dc=lab\nbind_password_file = reader.pw\n";
const std::string kGroupFilter = "group_filter = (&(objectClass=groupOfNames)(member=%s))\n";

TEST_F(LdapSignInLab, RightPasswordsSignInAndEverythingElseIsRefused) {
    for (const std::string& lines :
         {kLdaps + kReader + kGroupFilter, kStartTls + kGroupFilter, kLdaps + kGroupFilter}) {
        SCOPED_TRACE(lines);
        CLdapDirectory directory = Directory(lines);
        const SLdapSignIn alice = directory.SignIn("alice", Bytes("alice-pass"));
        ASSERT_TRUE(alice.result.Ok()) << alice.result.message;
        EXPECT_EQ(alice.dn, kAlice);
        EXPECT_EQ(alice.groups, (std::vector<std::string>{kAdmins, kStaff}));
        const SLdapSignIn jurgen = directory.SignIn("j\xc3\xbcrgen", Bytes("jurgen-pass"));
        ASSERT_TRUE(jurgen.result.Ok()) << jurgen.result.message;
        EXPECT_EQ(jurgen.groups, std::vector<std::string>{kStaff});

        const struct {
            std::string_view user;
            std::string_view password;
            ELdapOutcome outcome;
        } refused[] = {
            {"alice", "bob-pass", ELdapOutcome::InvalidCredentials},
            {"alice", "", ELdapOutcome::InvalidCredentials},
            {"carol", "alice-pass", ELdapOutcome::NoSuchUser},
            {"*", "alice-pass", ELdapOutcome::NoSuchUser},
            {"al*", "alice-pass", ELdapOutcome::NoSuchUser},
            {"alice)(uid=*", "alice-pass", ELdapOutcome::NoSuchUser},
            {"*)(|(uid=*", "bob-pass", ELdapOutcome::NoSuchUser},
        };
        for (const auto& r : refused) {
            EXPECT_EQ(directory.SignIn(r.user, Bytes(r.password)).result.outcome, r.outcome)
                << r.user;
        }
        // A refusal leaves the pooled connection fit for the next user.
        EXPECT_TRUE(directory.SignIn("bob", Bytes("bob-pass")).result.Ok());
    }
}

TEST_F(LdapSignInLab, GroupsComeFromTheUsersAttributeByDefault) {
    // The lab's users carry no memberOf: cn stands in for a multi-valued attribute.
    CLdapDirectory directory = Directory(kLdaps + "group_attribute = cn\n");
    const SLdapSignIn alice = directory.SignIn("alice", Bytes("alice-pass"));
    ASSERT_TRUE(alice.result.Ok()) << alice.result.message;
    EXPECT_EQ(alice.groups, std::vector<std::string>{"Alice"});
}

TEST_F(LdapSignInLab, AServerNotSignedByTheConfiguredCaIsATlsError) {
    for (std::string lines : {kLdaps, kStartTls}) {
        lines.replace(lines.find("ca.pem"), 0, "other-");
        CLdapDirectory directory = Directory(lines);
        const SLdapSignIn signIn = directory.SignIn("alice", Bytes("alice-pass"));
        EXPECT_EQ(signIn.result.outcome, ELdapOutcome::TlsError) << lines << signIn.result.message;
    }
}

TEST_F(LdapSignInLab, AWrongSearchAccountPasswordIsTheSitesFaultNotTheUsers) {
    CLdapDirectory wrong = Directory(kLdaps + kReader, "stale");
    EXPECT_EQ(wrong.SignIn("alice", Bytes("alice-pass")).result.outcome,
              ELdapOutcome::ProtocolError);
}

TEST_F(LdapSignInLab, AStoppedServerIsUnavailableWithinTheTimeoutAndIsReconnectedTo) {
    CLdapDirectory directory = Directory(kStartTls + "timeout = 2\n");
    ASSERT_TRUE(directory.SignIn("alice", Bytes("alice-pass")).result.Ok());
    ASSERT_EQ(Fixture("stop"), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(directory.SignIn("alice", Bytes("alice-pass")).result.outcome,
              ELdapOutcome::Unavailable);
    // Generous: the bound that matters is the timeout, two tries of it at most.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2 * 2 + 1));
    ASSERT_EQ(Fixture("serve"), 0);
    const SLdapSignIn again = directory.SignIn("alice", Bytes("alice-pass"));
    EXPECT_TRUE(again.result.Ok()) << again.result.message;
    // A restart between two sign-ins leaves a pooled connection dead: the user never sees it.
    ASSERT_EQ(Fixture("stop"), 0);
    ASSERT_EQ(Fixture("serve"), 0);
    const SLdapSignIn afterRestart = directory.SignIn("alice", Bytes("alice-pass"));
    EXPECT_TRUE(afterRestart.result.Ok()) << afterRestart.result.message;
}

TEST_F(LdapSignInLab, ConcurrentSignInsShareTheBoundedPool) {
    CLdapDirectory directory = Directory(kLdaps + kReader + kGroupFilter);
    constexpr int kThreads = 8;
    constexpr int kEach = 5;
    std::atomic<int> signedIn{0};
    std::atomic<std::size_t> mostOpen{0};
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < kEach; ++i) {
                    const bool wrong = (t + i) % 3 == 0;
                    const SLdapSignIn s =
                        directory.SignIn("alice", Bytes(wrong ? "nope" : "alice-pass"));
                    signedIn += (s.result.Ok() && !wrong && s.groups.size() == 2) ||
                                (wrong && s.result.outcome == ELdapOutcome::InvalidCredentials);
                    mostOpen = std::max(mostOpen.load(), directory.OpenConnections());
                }
            });
        }
    }
    EXPECT_EQ(signedIn, kThreads * kEach);
    EXPECT_LE(mostOpen, SLdapDirectoryOptions{}.poolSize);
}

TEST_F(LdapSignInLab, APoolAtItsLimitMakesWaitersGiveUpAtTheTimeout) {
    CLdapPool pool(
        {{"ldaps://127.0.0.1:6360"}, false, (m_dir / "ca.pem").string(), std::chrono::seconds(1)},
        1);
    {
        CLdapPool::CLease held = pool.Borrow();
        ASSERT_TRUE(held) << held.Result().message;
        const CLdapPool::CLease waiter = pool.Borrow();
        EXPECT_FALSE(waiter);
        EXPECT_EQ(waiter.Result().outcome, ELdapOutcome::Busy);
    }
    CLdapPool::CLease reused = pool.Borrow();
    EXPECT_TRUE(reused) << reused.Result().message;
    // A lease moved on still tells that its connection served before: a dead one gets a retry.
    const CLdapPool::CLease moved(std::move(reused));
    EXPECT_TRUE(moved.Reused());
    EXPECT_EQ(pool.OpenCount(), 1U);
}

} // namespace
