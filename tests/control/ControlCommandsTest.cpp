// The control channel and its commands without a window: requests over a real local socket in a
// scratch folder, answered on a headless window thread; the directory commands with the dialogs'
// checks and texts; and what the channel answers when the program stops under a request.
#include "control/CControlChannel.h"
#include "control/CControlCommands.h"
#include "control/LoginFile.h"
#include "core/CDirectoryMessage.h"
#include "platform/io/CUniqueFd.h"
#include "platform/registry/CRegistryHive.h"
#include "platform/text/Base64.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CEventLoop.h"
#include "service/listener/CTlsPortState.h"
#include "storage/CServerRowList.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/platform/http/CLoopbackHttpPeer.h"
#include "tests/support/CCoreTestAccess.h"
#include "tests/support/CTempDir.h"
#include "tests/support/TestFiles.h"

#include <cstring>
#include <future>
#include <gtest/gtest.h>
#include <latch>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>

namespace {

class CTestTarget : public IControlTarget {
public:
    explicit CTestTarget(const std::filesystem::path& db) : m_pCore(StartCore(db)) {}
    COrvaneSrvCore& Core() override { return *m_pCore; }
    IServerListView& Servers() override { return m_rows; }
    std::shared_ptr<IWindowThread> Window() override { return m_loop.Window(); }
    CServerDiscovery* Discovery() override { return nullptr; }
    void OnDirectoryChanged() override { ++m_nChanges; }

    CEventLoop m_loop;
    std::unique_ptr<COrvaneSrvCore> m_pCore;
    CServerRowList m_rows;
    int m_nChanges = 0;
};

// The last line of a login's reply.
std::string Summary(int yes, int sent, int fresh, int conflict, int unsupported) {
    const int skipped = fresh + conflict + unsupported;
    return std::to_string(yes) + " logged in, " + std::to_string(sent - yes) + " failed, " +
           std::to_string(skipped) + " skipped" +
           (skipped == 0
                ? std::string()
                : " (" + std::to_string(fresh) + " new, " + std::to_string(conflict) +
                      " in address conflict, " + std::to_string(unsupported) + " not supported)") +
           "\n";
}

class Control : public ::testing::Test {
protected:
    CControlReply Run(std::vector<std::string> args) {
        CControlReply reply{-1, {}, {}};
        m_commands.Run(args, [&reply](CControlReply answer) { reply = std::move(answer); });
        return reply;
    }

    CTempDir m_dir;
    CTestTarget m_target{m_dir / "registry.db"};
    CControlCommands m_commands{m_target, {"9.9", "/store", "/www", 51001}};
    CControlChannel::CDone m_held;
};

// Status tells the HTTPS port with the fingerprint to pin, or why the port is not served.
TEST_F(Control, StatusTellsTheHttpsPortAndItsFingerprint) {
    using E = CTlsPortState::EState;
    const struct {
        CTlsPortState state;
        std::string line; // the value of "https", plain and in JSON
    } cases[] = {
        {{E::Serving, 51443, "AB:01", ""}, "port 51443, SHA-256 fingerprint AB:01"},
        {{E::NotServed, 0, "", "tls.key is readable by others"},
         "not served: tls.key is readable by others"},
        {{}, "off"},
    };
    const std::string json[] = {
        R"({"port": 51443, "fingerprint": "AB:01", "state": "serving", "reason": ""})",
        R"({"port": 0, "fingerprint": "", "state": "not served", "reason": "tls.key is readable by others"})",
        R"({"port": 0, "fingerprint": "", "state": "off", "reason": ""})"};
    std::size_t i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        CTlsPortState::Publish(c.state);
        EXPECT_NE(Run({"status"}).strOut.find("\nhttps:                    " + c.line + "\n"),
                  std::string::npos);
        EXPECT_NE(Run({"status", "--json"}).strOut.find("\"https\": " + json[i++] + ","),
                  std::string::npos);
    }
    CTlsPortState::Publish({});
}

struct CStep {
    std::vector<std::string> args;
    int status;
    std::string err; // the start of standard error's text
};

// orvanectl holds names and passwords to the directory's rules in every script, in the
// dialogs' words, and a refused command leaves the store as it was.
TEST_F(Control, DirectoryCommandsRefuseNamesInEveryScriptAndChangeNothing) {
    m_target.m_pCore->SendMessage(
        CDirectoryMessage::AddUser(true, User(u"\u00e4dmin", u"", {u"Everyone"})));
    const auto users = ReadValues(m_dir / "registry.db", kUserKey);
    const std::vector<CStep> steps = {
        {{"user", "add", "\u3000\u00a0", "--password", "x"}, 1, "The user name is empty!\n"},
        {{"user", "add", "\u00c4DMIN", "--password", "x"},
         1,
         "A user named \u00e4dmin exists already. User names may not differ in letter case "
         "only.\n"},
        {{"user", "add", "ann:1", "--password", "x"},
         1,
         "A user name may not contain \":\": the credential service could not tell it from the "
         "password.\n"},
        // A stored user without a password gets one before any other change.
        {{"user", "set", "\u00e4dmin", "--groups", "Administrator"},
         1,
         "The password is empty. Every user needs a password.\n"},
    };
    for (const CStep& step : steps) {
        const CControlReply reply = Run(step.args);
        EXPECT_EQ(reply.nStatus, step.status) << ::testing::PrintToString(step.args);
        EXPECT_EQ(reply.strErr, step.err);
    }
    EXPECT_EQ(ReadValues(m_dir / "registry.db", kUserKey), users);
    EXPECT_EQ(m_target.m_nChanges, 0);
}

// The directory commands keep the dialogs' rules; their changes are audited as orvanectl's, with
// no password, while the console's changes keep their source.
TEST_F(Control, DirectoryCommandsKeepTheDialogsRulesAndAreAuditedAsOrvanectls) {
    const auto trail = std::make_shared<CAuditTrail>(m_dir / "audit.log");
    m_target.m_pCore->SetAuditTrail(trail);
    const std::string file = (m_dir / "saved").string();
    const std::vector<CStep> steps = {
        {{"user", "add", "bob", "--password", "pw-one"}, 0, ""},
        {{"user", "add", "bob", "--password", "x"}, 1, "This user is already exist!"},
        {{"user", "add", "", "--password", "x"}, 1, "The user name is empty!"},
        {{"user", "add", " \t", "--password", "x"}, 1, "The user name is empty!"},
        {{"user", "add", "BOB", "--password", "x"}, 1, "A user named bob exists already."},
        {{"user", "add", "carol", "--password", ""}, 1, "The password is empty."},
        {{"user", "set", "bob", "--password", ""}, 1, "The password is empty."},
        {{"user", "add", "carol", "--groups", "nope", "--password", "x"}, 1, "no group nope"},
        {{"user", "add", "carol"}, 2, "a new user needs a password"},
        {{"user", "del", "admin"}, 1, "\"admin\" is a built-in account: it can be edited but not"},
        {{"user", "set", "nobody", "--groups", "Administrator"}, 1, "no user nobody"},
        {{"group", "add", "ops", "--members", "bob", "--access", "AA"}, 0, ""},
        {{"group", "add", "ops"}, 1, "This group is already exist!"},
        {{"group", "add", "Ops"}, 1, "A group named ops exists already."},
        {{"group", "add", "  "}, 1, "The group name is empty!"},
        {{"group", "add", "x", "--members", "ghost"}, 1, "no user ghost"},
        {{"group", "set", "Everyone", "--members", "bob"}, 1, "\"Everyone\" holds every user"},
        {{"group", "del", "Everyone"}, 1, "\"Everyone\" is a built-in group: it can be edited"},
        {{"group", "del", "Administrator"}, 1, "\"Administrator\" is a built-in group"},
        // A new password, then groups replaced and the password kept; access replaced, members
        // kept.
        {{"user", "set", "bob", "--password", "pw-two"}, 0, ""},
        {{"user", "set", "bob", "--groups", "ops,Administrator"}, 0, ""},
        {{"group", "set", "ops", "--access", "BB,CC"}, 0, ""},
        {{"user", "add", "q\"x", "--password", "p"}, 0, ""},
        {{"export", "relative.ovx"}, 2, "the file must be named by an absolute path"},
        {{"export", file}, 0, ""},
        {{"user", "del", "q\"x"}, 0, ""},
        {{"import", file + ".ovx"}, 0, ""},
        {{"import", file}, 1, ""},
        {{"refresh"}, 1, "discovery does not run"},
        {{"login", "--all", "--user", "admin", "--password", "x"}, 1, "no supported array"},
        {{"login", "AA", "--user", "admin", "--password", "x"}, 1, "no array with the MAC"},
        {{"login", "--all", "AA", "--user", "admin", "--password", "x"}, 2, "usage: login"},
        {{"login", "--all", "--password", "x"}, 2, "usage: login"},
        {{"users", "extra"}, 2, "unknown command or arguments"},
        {{"frobnicate"}, 2, "unknown command or arguments"},
    };
    for (const CStep& step : steps) {
        const CControlReply reply = Run(step.args);
        const std::string label = ::testing::PrintToString(step.args);
        EXPECT_EQ(reply.nStatus, step.status) << label << ": " << reply.strErr;
        EXPECT_EQ(reply.strErr.substr(0, step.err.size()), step.err) << label;
    }
    EXPECT_EQ(m_target.m_pCore->UserRecord(u"bob")->m_strPassword, u"pw-two");
    EXPECT_EQ(Run({"users"}).strOut, "User   Groups\n"
                                     "admin  Administrator,Everyone\n"
                                     "bob    Administrator,Everyone,ops\n"
                                     "q\"x    Everyone\n");
    EXPECT_EQ(Run({"groups"}).strOut, "Group          Members  Arrays  Directory groups\n"
                                      "Administrator  2        0       0\n"
                                      "Everyone       3        0       0\n"
                                      "ops            1        2       0\n");
    EXPECT_EQ(Run({"users", "--json"}).strOut,
              "[\n  {\"name\": \"admin\", \"groups\": [\"Administrator\",\"Everyone\"]},\n"
              "  {\"name\": \"bob\", \"groups\": [\"Administrator\",\"Everyone\",\"ops\"]},\n"
              "  {\"name\": \"q\\\"x\", \"groups\": [\"Everyone\"]}\n]\n");
    // Every change and the import, and nothing else, told the Account tab.
    EXPECT_EQ(m_target.m_nChanges, 8);
    // Export and import say what they did.
    EXPECT_EQ(Run({"export", file}).strErr, file + ".ovx: exists: give --force to replace it\n");
    EXPECT_EQ(Run({"export", "--force", file}).strOut,
              "Exported 3 users and 3 groups to " + file + ".ovx\n");
    EXPECT_EQ(Run({"import", file + ".ovx"}).strOut,
              "Imported from " + file +
                  ".ovx: 0 users and 0 groups added, 3 users and 3 groups replaced\n");

    m_target.m_pCore->SendMessage(CDirectoryMessage::DeleteUser(true, u"bob"));
    trail->Sync();
    const std::string text = ReadFileText(m_dir / "audit.log");
    const std::string ctl = R"(","source":"orvanectl",")";
    for (const std::string& expected :
         {"user-add" + ctl + R"(user":"bob","groups":"Everyone"})",
          "group-add" + ctl + R"(group":"ops","members":"bob"})",
          "group-access" + ctl + R"(group":"ops","macs":"AA"})",
          "user-change" + ctl + R"(user":"bob","groups":"ops,Everyone","password_changed":true})",
          "export" + ctl + "file\":\"" + file + R"(.ovx","result":"done"})",
          std::string(R"(user-delete","source":"console","user":"bob"})")}) {
        EXPECT_NE(text.find("\"event\":\"" + expected), std::string::npos) << expected << "\n"
                                                                           << text;
    }
    EXPECT_EQ(text.find("pw-"), std::string::npos) << text;
}

// A group's directory groups: set with the group or alone (members and access kept), shown,
// refused when one is no DN (nothing changed), cleared; each change audited with its DNs.
TEST_F(Control, DirectoryGroupsAreSetShownRefusedAndClearedKeepingTheRest) {
    const auto trail = std::make_shared<CAuditTrail>(m_dir / "audit.log");
    m_target.m_pCore->SetAuditTrail(trail);
    const auto dns = [this] {
        return m_target.m_pCore->GroupRecord(u"ops")->m_listDirectoryGroups;
    };
    ASSERT_EQ(Run({"group", "add", "ops", "--members", "admin", "--access", "AA", "--ldap-groups",
                   "cn=ops,dc=x"})
                  .nStatus,
              0);
    // As orvanectl sends them: an option a DN. A second spelling of one directory group is kept
    // once, as first typed.
    ASSERT_EQ(Run({"group", "set", "ops", "--ldap-groups", "cn=a,dc=x", "--ldap-groups",
                   "cn=b\\,c,dc=x", "--ldap-groups", "CN=A, DC=x"})
                  .nStatus,
              0);
    EXPECT_EQ(dns(), (Names{u"cn=a,dc=x", u"cn=b\\,c,dc=x"}));
    ASSERT_EQ(Run({"group", "set", "ops", "--members", "admin"}).nStatus, 0);
    // A change of members keeps the directory groups; a change of them kept the access.
    EXPECT_EQ(Run({"group", "show", "ops"}).strOut, "group:             ops\n"
                                                    "members:           1\n"
                                                    "                   admin\n"
                                                    "arrays:            1\n"
                                                    "                   AA\n"
                                                    "directory groups:  2\n"
                                                    "                   cn=a,dc=x\n"
                                                    "                   cn=b\\,c,dc=x\n");
    EXPECT_NE(Run({"group", "show", "ops", "--json"})
                  .strOut.find(R"("ldapGroups": ["cn=a,dc=x","cn=b\\,c,dc=x"]})"),
              std::string::npos);
    const auto stored = ReadValues(m_dir / "registry.db", kGroupKey);
    const CControlReply refused =
        Run({"group", "set", "ops", "--ldap-groups", "cn=ok", "--ldap-groups", "nope"});
    EXPECT_EQ(refused.nStatus, 1);
    EXPECT_EQ(refused.strErr.substr(0, 21), "\"nope\" is not a DN: e");
    EXPECT_EQ(ReadValues(m_dir / "registry.db", kGroupKey), stored);
    ASSERT_EQ(Run({"group", "set", "ops", "--no-ldap-groups"}).nStatus, 0);
    EXPECT_TRUE(dns().empty());
    trail->Sync();
    const std::string text = ReadFileText(m_dir / "audit.log");
    EXPECT_NE(text.find(R"("group":"ops","members":"admin","directoryGroups":"cn=a,dc=x; )"
                        R"(cn=b\\,c,dc=x"})"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(R"("group":"ops","members":"admin"})"), std::string::npos) << text;
}

CUniqueFd ConnectTo(const std::filesystem::path& socket) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
    CUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return {};
    }
    return fd;
}

// A client of the channel: one request, the reply's bytes until the channel closes (or none,
// hanging up at once).
std::string Ask(const std::filesystem::path& socket, const std::string& bytes,
                bool bHangUp = false) {
    const CUniqueFd fd = ConnectTo(socket);
    if (!fd) {
        return "no connection";
    }
    ::send(fd.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (bHangUp) {
        return {};
    }
    std::string reply;
    char chunk[256];
    for (ssize_t got; (got = ::recv(fd.Get(), chunk, sizeof chunk, 0)) > 0;) {
        reply.append(chunk, static_cast<std::size_t>(got));
    }
    return reply;
}

// Listings for scripts: CSV quoted as RFC 4180 with a header (JSON's booleans are parsed in the
// lab, CtlLab). An import
// tried with --dry-run says what it would add and replace and changes nothing; one that cannot
// be read names the file and why, and changes nothing either.
TEST_F(Control, ListingsForScriptsAndImportsThatChangeNothing) {
    const auto trail = std::make_shared<CAuditTrail>(m_dir / "audit.log");
    m_target.m_pCore->SetAuditTrail(trail);
    Run({"user", "add", "q\"x,y", "--password", "p"});
    const std::size_t row = m_target.m_rows.AppendRow(u"10.0.0.1");
    m_target.m_rows.SetCellText(row, EServerColumn::MAC, u"02:4f:52:00:00:01");
    m_target.m_rows.SetCellText(row, EServerColumn::SystemName, u"a\nb");
    m_target.m_rows.SetCellText(row, EServerColumn::Auth, u"Yes");
    m_target.m_rows.SetCellText(m_target.m_rows.AppendRow(u"10.0.0.2"), EServerColumn::Auth, u"No");
    const std::size_t hostile = m_target.m_rows.AppendRow(u"10.0.0.3");
    m_target.m_rows.SetCellText(hostile, EServerColumn::SystemName, u"=HYPERLINK(\"x\",1)");
    EXPECT_NE(Run({"servers", "--csv"}).strOut.find("\r\n10.0.0.3,\"'=HYPERLINK(\"\"x\"\",1)\""),
              std::string::npos);
    EXPECT_EQ(Run({"users", "--csv"}).strOut,
              "User,Groups\r\nadmin,\"Administrator,Everyone\"\r\n\"q\"\"x,y\",Everyone\r\n");
    const std::string servers = Run({"servers", "--csv"}).strOut;
    EXPECT_NE(servers.find("\r\n10.0.0.1,a\\x0Ab,"), std::string::npos) << servers;

    const std::string file = (m_dir / "dir.ovx").string();
    ASSERT_EQ(Run({"export", file}).nStatus, 0);
    Run({"user", "del", "q\"x,y"});
    Run({"user", "add", "zed", "--password", "p"});
    const auto users = ReadValues(m_dir / "registry.db", kUserKey);
    const std::string bytes = ReadFileText(file);
    WriteFileText(m_dir / "cut.ovx", bytes.substr(0, bytes.size() / 2));
    WriteFileText(m_dir / "text.ovx", "hello, world\n");
    const std::vector<CStep> steps = {
        {{"import", "--dry-run", file}, 0, ""},
        {{"import", (m_dir / "cut.ovx").string()},
         1,
         (m_dir / "cut.ovx").string() + ": truncated at byte " + std::to_string(bytes.size() / 2)},
        {{"import", "--dry-run", (m_dir / "text.ovx").string()},
         1,
         (m_dir / "text.ovx").string() + ": not an export file"},
        {{"import", (m_dir / "none.ovx").string()},
         1,
         (m_dir / "none.ovx").string() + ": No such file or directory"},
    };
    for (const CStep& step : steps) {
        const CControlReply reply = Run(step.args);
        EXPECT_EQ(reply.nStatus, step.status) << step.args.back();
        EXPECT_EQ(reply.strErr.substr(0, step.err.size()), step.err);
    }
    EXPECT_EQ(Run({"import", "--dry-run", file}).strOut,
              "dry run, nothing was changed: importing " + file +
                  " would make\nusers added (1): q\"x,y\nusers replaced (1): admin\n"
                  "groups added (0)\ngroups replaced (2): Administrator, Everyone\n");
    EXPECT_EQ(ReadValues(m_dir / "registry.db", kUserKey), users);
    trail->Sync();
    const std::string audit = ReadFileText(m_dir / "audit.log");
    // Only the two imports tried for real are in the trail, as failures; no dry run is.
    std::size_t imports = 0;
    for (std::size_t at = audit.find("\"event\":\"import\""); at != std::string::npos;
         at = audit.find("\"event\":\"import\"", at + 1)) {
        ++imports;
    }
    EXPECT_EQ(imports, 2u);
}

TEST_F(Control, AChangeTheStoreCannotSaveIsAFailure) {
    CRegistryHive other(m_dir / "registry.db"); // another process holds the store
    ASSERT_EQ(other.Begin(), ERROR_SUCCESS);
    CCoreTestAccess::Registry(*m_target.m_pCore).Hive().SetLockWait(std::chrono::milliseconds(0));
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"user", "add", "carol", "--password", "x"}, {"group", "add", "ops"}}) {
        const CControlReply reply = Run(args);
        EXPECT_EQ(reply.nStatus, 1) << args[0];
        EXPECT_TRUE(reply.strErr.starts_with("Failed to save the directory: ")) << reply.strErr;
    }
}

// A failed login to an array logged in before fails, while the Auth cell goes on showing the
// record, which the failure leaves as it was.
TEST_F(Control, AFailedLoginToAnAuthorizedArrayIsAFailure) {
    auto record = std::make_unique<CServerData>();
    record->SetMAC("m1");
    record->SetIPAddr("127.0.0.1");
    record->m_bAuthorized = 1;
    m_target.m_pCore->ChangeServers(
        [&](CServerTable& servers) { servers.Add(u"m1", std::move(record)); });
    const std::size_t row = m_target.m_rows.AppendRow(u"127.0.0.1");
    m_target.m_rows.SetCellText(row, EServerColumn::MAC, u"m1");
    m_target.m_rows.SetCellText(row, EServerColumn::Auth, u"Yes");
    CLoopbackHttpPeer peer({CLoopbackHttpPeer::Reply(401, "")});
    m_commands.SetLoginOptions({.nPort = peer.Port()});
    std::optional<CControlReply> reply;
    m_commands.Run({"login", "m1", "--user", "admin", "--password", "pw"},
                   [&reply](CControlReply answer) { reply = std::move(answer); });
    m_target.m_loop.SetTimer(1, std::chrono::seconds(60), [this] { m_target.m_loop.Quit(); });
    ASSERT_TRUE(m_target.m_loop.RunUntil([&reply] { return reply.has_value(); }));
    EXPECT_EQ(reply->nStatus, 1);
    EXPECT_EQ(reply->strOut,
              "127.0.0.1  m1  wrong user name or password\n" + Summary(0, 1, 0, 0, 0));
    EXPECT_EQ(m_target.m_rows.CellText(row, EServerColumn::Auth), u"Yes");
}

// A login whose caller goes away (its connection closed) before its arrays answered drops its
// queued logins; the running ones still update the record and the row, and tell it nothing.
TEST_F(Control, ALoginThatGoesAwayDropsItsQueuedLoginsAndHearsNothingMore) {
    constexpr std::size_t kQueued = 8;
    auto record = std::make_unique<CServerData>();
    record->SetMAC("m1");
    record->SetIPAddr("127.0.0.1");
    m_target.m_pCore->ChangeServers(
        [&record](CServerTable& servers) { servers.Add(u"m1", std::move(record)); });
    const std::size_t row = m_target.m_rows.AppendRow(u"127.0.0.1");
    m_target.m_rows.SetCellText(row, EServerColumn::MAC, u"m1");
    CLoopbackHttpPeer peer(
        {CLoopbackHttpPeer::Reply(200, ""), CLoopbackHttpPeer::EAnswer::ReplyWhenReleased});
    bool bTold = false;
    auto login = std::make_unique<CControlLogin>(
        *m_target.m_pCore, m_target.m_rows, m_target.m_loop.Window(),
        [&bTold](CControlReply) { bTold = true; }, [&bTold] { bTold = true; },
        CLoginOptions{.nPort = peer.Port()});
    login->Start(
        std::vector<CLoginTarget>(CLoginPool::kMaxInFlight + kQueued, {u"m1", u"127.0.0.1"}),
        u"admin", u"pw");
    ASSERT_TRUE(peer.WaitForRequests(CLoginPool::kMaxInFlight, std::chrono::seconds(20)));
    login.reset();
    peer.Release();
    m_target.m_loop.SetTimer(1, std::chrono::seconds(60), [this] { m_target.m_loop.Quit(); });
    ASSERT_TRUE(m_target.m_loop.RunUntil(
        [&] { return m_target.m_rows.CellText(row, EServerColumn::Auth) == u"Yes"; }));
    // The pool is idle once as many jobs as it has places run side by side: every login has
    // ended by then, and a queued one that was not dropped would have been sent.
    std::latch allPlaces(CLoginPool::kMaxInFlight);
    std::vector<CLoginPool::CJob> probes(
        CLoginPool::kMaxInFlight, [&allPlaces](CLoginPool::ERun) { allPlaces.arrive_and_wait(); });
    const CLoginPool::CTicket ticket = m_target.m_pCore->LoginPool()->Submit(std::move(probes));
    allPlaces.wait();
    bool bDrained = false;
    m_target.m_loop.Window()->Post([&bDrained] { bDrained = true; });
    ASSERT_TRUE(m_target.m_loop.RunUntil([&bDrained] { return bDrained; }));
    EXPECT_EQ(peer.Requests().size(), CLoginPool::kMaxInFlight);
    EXPECT_EQ(m_target.m_pCore->ServerRecord(u"m1")->m_bAuthorized, 1);
    EXPECT_FALSE(bTold);
}

// "--all" sends the password only to known arrays (logged in to before, or in a group's access
// list) at their own address; new arrays and arrays that another address announces too are
// listed as skipped. Naming an array by MAC reaches it at its own address, and one that seems
// to have moved only at the address --address names, which then becomes its own.
TEST_F(Control, AFleetLoginReachesOnlyKnownArraysAtTheirOwnAddress) {
    CLoopbackHttpPeer own({CLoopbackHttpPeer::Reply(200, "<ok/>")});
    CLoopbackHttpPeer moved({CLoopbackHttpPeer::Reply(200, "<ok/>")}, "127.0.0.9", own.Port());
    ASSERT_NE(moved.Port(), 0);
    m_commands.SetLoginOptions({.nPort = own.Port()});
    const auto add = [this](const char* mac, bool bKnown, const char* claim, int unseen,
                            const char* vendor = "Tarvik Networks") {
        auto record = std::make_unique<CServerData>();
        record->SetMAC(mac);
        record->SetIPAddr("127.0.0.1");
        record->SetType("SAN");
        record->SetVendor(vendor);
        record->SetModel("Evask");
        record->SetSystemName(std::string("name-") + mac);
        record->m_bKnown = bKnown;
        if (*claim != '\0') {
            record->NoteClaim(claim, std::chrono::system_clock::now());
        }
        record->m_nPassesBoundUnseen = unseen;
        m_target.m_pCore->ChangeServers(
            [&](CServerTable& servers) { servers.Add(Utf8ToUtf16(mac), std::move(record)); });
        const std::size_t row = m_target.m_rows.AppendRow(u"127.0.0.1");
        m_target.m_rows.SetCellText(row, EServerColumn::MAC, Utf8ToUtf16(mac));
    };
    add("k", true, "", 0);
    add("n", false, "", 0);
    add("g", false, "", 0);
    add("c", true, "127.0.0.66", 0);
    add("m", true, "127.0.0.9", CServerData::kPassesToForget);
    add("u", true, "", 0, "Other");
    Run({"group", "add", "ops", "--access", "g"});
    const auto login = [this](std::vector<std::string> args) {
        std::optional<CControlReply> reply;
        args.insert(args.begin(), "login");
        args.insert(args.end(), {"--user", "admin", "--password", "pw"});
        m_commands.Run(args, [&reply](CControlReply answer) { reply = std::move(answer); });
        m_target.m_loop.RunUntil([&reply] { return reply.has_value(); });
        return *reply;
    };
    const CControlReply all = login({"--all"});
    EXPECT_EQ(all.nStatus, 0) << all.strErr;
    for (const std::string& line : std::vector<std::string>{
             "127.0.0.1  n  new array: log in to it by its MAC, or give a group access",
             "127.0.0.1  c  address conflict: 127.0.0.66 announces it too",
             "127.0.0.1  m  moved?: only 127.0.0.9 announces it now",
             "127.0.0.1  u  not a supported product", "127.0.0.1  k  Yes\n", "127.0.0.1  g  Yes\n",
             Summary(2, 2, 1, 2, 1)}) {
        EXPECT_NE(all.strOut.find(line), std::string::npos) << line << "\n" << all.strOut;
    }
    EXPECT_EQ(own.Requests().size(), 2u);
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out; // the start of the reply
    } named[] = {
        // Named in any letter case, listed by address, then MAC.
        {{"N", "c"}, 0, "127.0.0.1  c  Yes\n127.0.0.1  n  Yes\n"},
        {{"m"}, 1, "127.0.0.1  m  moved?: only 127.0.0.9 announces it now: check it"},
        {{"m", "--address", "127.0.0.9"}, 0, "127.0.0.9  m  Yes\n"},
        {{"m", "--address", "127.1"}, 2, ""},
        {{"k", "n", "--address", "127.0.0.9"}, 2, ""},
    };
    for (const auto& step : named) {
        const CControlReply reply = login(step.args);
        EXPECT_EQ(reply.nStatus, step.status) << step.args[0] << reply.strErr;
        EXPECT_TRUE(reply.strOut.starts_with(step.out)) << reply.strOut;
    }
    EXPECT_EQ(moved.Requests().size(), 1u);
    const CServerData m = *m_target.m_pCore->ServerRecord(u"m");
    EXPECT_STREQ(m.m_szIPAddr, "127.0.0.9");
    EXPECT_STREQ(m.m_szAuthorizedIP, "127.0.0.9");
    EXPECT_EQ(m.AddressState(), EAddressState::Bound);
    EXPECT_EQ(m_target.m_rows.CellText(m_target.m_rows.FindRow(EServerColumn::MAC, u"m"),
                                       EServerColumn::IPAddr),
              u"127.0.0.9");
    // The new arrays named once are known now.
    EXPECT_TRUE(m_target.m_pCore->LoginCandidate(u"n")->bKnown);
}

// A login file through the control socket, as orvanectl sends it: each array gets its own
// credentials (none of the command's is needed then), the audit trail names each one's user and
// no password, and the reply is one table sorted by address, numerically, with the arrays left
// out among the others.
TEST_F(Control, ALoginFileLogsInToEachArrayWithItsOwnCredentials) {
    CLoopbackHttpPeer ten({CLoopbackHttpPeer::Reply(200, "<ok/>")}, "127.0.0.10");
    CLoopbackHttpPeer nine({CLoopbackHttpPeer::Reply(200, "<ok/>")}, "127.0.0.9", ten.Port());
    ASSERT_NE(nine.Port(), 0);
    m_commands.SetLoginOptions({.nPort = ten.Port()});
    const auto trail = std::make_shared<CAuditTrail>(m_dir / "audit.log");
    m_target.m_pCore->SetAuditTrail(trail);
    const auto add = [this](const char* mac, const char* ip, const char* vendor) {
        auto record = std::make_unique<CServerData>();
        record->SetMAC(mac);
        record->SetIPAddr(ip);
        record->SetType("SAN");
        record->SetVendor(vendor);
        record->SetModel("Evask");
        m_target.m_pCore->ChangeServers(
            [&](CServerTable& servers) { servers.Add(Utf8ToUtf16(mac), std::move(record)); });
        const std::size_t row = m_target.m_rows.AppendRow(Utf8ToUtf16(ip));
        m_target.m_rows.SetCellText(row, EServerColumn::MAC, Utf8ToUtf16(mac));
    };
    add("ma", "127.0.0.10", "Tarvik Networks");
    add("mb", "127.0.0.9", "Tarvik Networks");
    add("mu", "127.0.0.2", "Other");
    const CLoginFileContent file = LoginFile::Parse("ma,ann,\"pw,a\"\nmu,x,pw-u\nmb,bob,pw-b\n");
    const auto socket = CControlChannel::SocketPath(m_dir / "registry.db");
    CEventLoop& loop = m_target.m_loop;
    CControlChannel channel(
        loop.Window(), [this](const std::vector<std::string>& args,
                              const CControlChannel::CDone& done) { m_commands.Run(args, done); });
    ASSERT_EQ(channel.Listen(socket), "");
    const auto ask = [&](const std::vector<std::string>& args) {
        std::promise<std::string> answer;
        std::future<std::string> bytes = answer.get_future();
        std::thread client([&] {
            answer.set_value(Ask(socket, ControlProtocol::EncodeRequest(args)));
            loop.Window()->Post([] {}); // wakes the loop to see the answer
        });
        EXPECT_TRUE(loop.RunUntil(
            [&] { return bytes.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
        client.join();
        bool bad = false;
        return ControlProtocol::DecodeReply(bytes.get(), bad).value_or(CControlReply{-1, {}, {}});
    };
    const std::string list = LoginFile::Encode(file.entries);
    const CControlReply reply = ask({"login", "--list", list});
    // An array named but not supported fails the command, as on the command line.
    EXPECT_EQ(reply.nStatus, 1) << reply.strErr;
    EXPECT_EQ(reply.strOut, "127.0.0.2   mu  not a supported product\n"
                            "127.0.0.9   mb  Yes\n"
                            "127.0.0.10  ma  Yes\n" +
                                Summary(2, 2, 0, 0, 1));
    for (const auto& [peer, credentials] : {std::pair{&ten, "ann:pw,a"}, {&nine, "bob:pw-b"}}) {
        ASSERT_EQ(peer->Requests().size(), 1u) << credentials;
        EXPECT_NE(peer->Requests()[0].find("\r\nAuthorization:Basic " + Base64Encode(credentials) +
                                           "\r\n"),
                  std::string::npos)
            << credentials;
    }
    trail->Sync();
    const std::string audit = ReadFileText(m_dir / "audit.log");
    for (const std::string expected : {R"("mac":"ma","ip":"127.0.0.10","user":"ann")",
                                       R"("mac":"mb","ip":"127.0.0.9","user":"bob")"}) {
        EXPECT_NE(audit.find(expected), std::string::npos) << expected << "\n" << audit;
    }
    EXPECT_EQ(audit.find("pw"), std::string::npos) << audit;
    // The command's credentials are wanted only for an array listed with its MAC alone; a list
    // names its arrays alone.
    const std::string alone = LoginFile::Encode(LoginFile::Parse("mb\nma,ann,pw").entries);
    const struct {
        std::vector<std::string> args;
        std::string err;
    } refused[] = {
        {{"login", "--list", alone}, "an array listed with its MAC alone needs --user and a"},
        {{"login", "--list", alone, "--user", "admin"}, "an array listed with its MAC alone"},
        {{"login", "--list", "3:ma"}, "--list does not hold a login file's arrays"},
        {{"login", "--list", list, "--all"}, "usage: login --list LIST"},
        {{"login", "--list", list, "mb"}, "usage: login --list LIST"},
    };
    for (const auto& step : refused) {
        const CControlReply answer = ask(step.args);
        EXPECT_EQ(answer.nStatus, 2) << step.err;
        EXPECT_TRUE(answer.strErr.starts_with(step.err)) << answer.strErr;
    }
    EXPECT_EQ(ten.Requests().size(), 1u);
}

TEST_F(Control, TheChannelAnswersOnTheWindowThreadAndWhenTheProgramStops) {
    const auto socket = CControlChannel::SocketPath(m_dir / "registry.db");
    CEventLoop& loop = m_target.m_loop;
    auto channel = std::make_unique<CControlChannel>(
        loop.Window(),
        [this](const std::vector<std::string>& args, const CControlChannel::CDone& done) {
            if (args == std::vector<std::string>{"hold"}) {
                m_held = done; // answered never: the program stops first
                return;
            }
            m_commands.Run(args, done);
        });
    ASSERT_EQ(channel->Listen(socket), "");
    struct stat info {};
    ASSERT_EQ(::stat(socket.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    std::promise<std::string> answer;
    std::future<std::string> status = answer.get_future();
    std::thread client([&] {
        answer.set_value(Ask(socket, ControlProtocol::EncodeRequest({"users"})));
        loop.Window()->Post([] {}); // wakes the loop to see the answer
    });
    ASSERT_TRUE(loop.RunUntil(
        [&] { return status.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    client.join();
    EXPECT_EQ(status.get(), ControlProtocol::EncodeReply(Run({"users"})));
    // Bytes that are not a request get no answer.
    EXPECT_EQ(Ask(socket, std::string("GET / HTTP/1.0\r\n\r\n")), "");

    auto held = std::async(std::launch::async,
                           [&] { return Ask(socket, ControlProtocol::EncodeRequest({"hold"})); });
    ASSERT_TRUE(loop.RunUntil([&] { return static_cast<bool>(m_held); }));
    m_held = nullptr; // dropped unanswered, as a pass that never ends
    EXPECT_EQ(held.get(), ControlProtocol::EncodeReply({1, {}, "OrvaneSrv is stopping\n"}));
    // A peer that hangs up before its answer is told to its request, whichever comes first.
    Ask(socket, ControlProtocol::EncodeRequest({"hold"}), true);
    ASSERT_TRUE(loop.RunUntil([&] { return static_cast<bool>(m_held); }));
    bool bGone = false;
    m_held.WhenGone([&bGone] { bGone = true; });
    EXPECT_TRUE(loop.RunUntil([&bGone] { return bGone; }));
    m_held = nullptr;
    // A peer that asks for progress (before the command) hears it ahead of the reply.
    std::promise<void> heard;
    std::thread counted([&] {
        const CUniqueFd fd = ConnectTo(socket);
        const std::string request = ControlProtocol::EncodeRequest({"--progress", "hold"});
        ::send(fd.Get(), request.data(), request.size(), MSG_NOSIGNAL);
        std::string bytes;
        char chunk[256];
        for (ssize_t got; (got = ::recv(fd.Get(), chunk, sizeof chunk, 0)) > 0;) {
            bytes.append(chunk, static_cast<std::size_t>(got));
            if (bytes == "+1 2\n") {
                heard.set_value();
            }
        }
        EXPECT_EQ(bytes, "+1 2\n" + ControlProtocol::EncodeReply({0, "done\n", ""}));
    });
    ASSERT_TRUE(loop.RunUntil([&] { return static_cast<bool>(m_held); }));
    m_held.Progress(1, 2);
    heard.get_future().wait();
    m_held({0, "done\n", ""});
    m_held = nullptr;
    counted.join();
    channel.reset();
    EXPECT_FALSE(std::filesystem::exists(socket));
}

} // namespace
