// The whole system in the namespace lab, as an operator and the users of the directory meet it:
// the console finds arrays of every kind, logs in to three, creates a user and a group with
// access to two of them; "/Query" from another computer of the LAN hands that user exactly
// those two; an array pushes its new password, a stranger's push is refused; an array leaves
// the LAN and comes back; the directory goes through Export, a wiped store and Import
// unchanged; the audit trail holds each of these events and none of the passwords; and the
// self-service page shows in a browser what "/Query" lists.
#include "console/CAddGroupDlg.h"
#include "console/CAddUserDlg.h"
#include "console/CGroupAccessDlg.h"
#include "core/CRegistryStore.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CCheckListBox.h"
#include "resources/ResourceIds.h"
#include "tests/console/AccountTestSupport.h"
#include "tests/console/CConsoleLab.h"
#include "tests/support/RunShell.h"
#include "tests/support/TestGate.h"
#include "tests/tools/CLabArray.h"

#include <algorithm>
#include <fstream>
#include <future>
#include <iostream>
#include <numeric>
#include <regex>
#include <set>

namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 20s;
constexpr auto kBrowserWait = 120s;
constexpr int kArrayCount = 5;
constexpr int kSkippedStatus = 77; // the browser test's "not installed"
constexpr std::string_view kStatusMark = "browser test status ";
constexpr std::string_view kGateSkipped = "SKIPPED: "; // the gate's reason, tests/support/gate.sh
constexpr const char* kArrayAdmin = "admin";
constexpr const char* kPassword = "secret";
constexpr const char* kPushed = "n3w";
constexpr const char* kUser = "nora";
constexpr const char* kUserPassword = "Tide-Pool-7";
constexpr const char16_t* kGroup = u"storage-ops";
constexpr const char* kAdmin = "admin"; // the built-in directory user
constexpr const char* kAdminPassword = "9983";
constexpr const char* kService = "http://$LAB_MGR_ADDR:51001"; // for the lab's shell

// The lab's arrays, each with what the lab's generated identity gets replaced by: two
// supported kinds of SAN, a NAS, a SAN of a vendor the program does not support, and a SAN
// without "mac". The first three take the administrator password kPassword.
struct CArrayKind {
    const char* extra;
    const char* type;
    const char* product;
    bool bMac;
};
const CArrayKind kArrays[kArrayCount] = {
    {"--admin-password secret", "SAN", "Z210-R2", true},
    {"--type NAS --vendor 'Quillmoor Storage' --model Hollis --product QS-N12 "
     "--admin-password secret",
     "NAS", "QS-N12", true},
    {"--omit model --admin-password secret", "SAN", "Y220", true},
    {"--vendor 'Quillmoor Storage' --model Tolva --product QS-4400", "SAN", "QS-4400", true},
    {"--omit mac", "SAN", "W210", false},
};

// Array i as the lab makes it, with its kind's changes.
CLabArray Array(int i) {
    CLabArray array = CLabArray::Generated(i);
    array.product = kArrays[i].product;
    array.type = kArrays[i].type;
    if (!kArrays[i].bMac) {
        array.mac.clear();
    }
    return array;
}

std::string Mac(int i) {
    return Array(i).mac;
}

std::string Ip(int i) {
    return Array(i).ip;
}

std::string Row(int i, const std::string& auth) {
    return Array(i).Row(auth);
}

std::string Entry(int i, const std::string& password) {
    return Array(i).Entry(password);
}

// A document's elements, the servers sorted: the service lists them in its tables' order.
std::vector<std::string> Elements(const std::string& document) {
    std::vector<std::string> elements;
    for (std::size_t at = 0; at < document.size();) {
        const std::size_t end = std::min(document.find('>', at), document.size() - 1);
        elements.push_back(document.substr(at, end + 1 - at));
        at = end + 1;
    }
    if (elements.size() > 2) {
        std::sort(elements.begin() + 1, elements.end() - 1);
    }
    return elements;
}

std::vector<std::string> Document(const std::string& admin, std::vector<std::string> servers) {
    servers.insert(servers.begin(), "<StorageServers AdminGroup=\"" + admin + "\">");
    servers.push_back("</StorageServers>");
    return Elements(std::accumulate(servers.begin(), servers.end(), std::string()));
}

// From the client's namespace: another computer of the LAN.
std::string FromClient(const std::string& curlArgs) {
    return RunShell("ip netns exec \"$LAB_CLIENT_NS\" curl -s --noproxy '*' --max-time 10 " +
                    curlArgs);
}

std::vector<std::string> Query(const std::string& user, const std::string& password) {
    return Elements(FromClient("-u '" + user + ":" + password + "' --data-binary $'x\\n' \"" +
                               kService + "/Query\""));
}

// Shell functions on the arrays of the lab, which names their namespaces after its scratch
// folder: array_ns I; stop_array I ends array I's simulator (the array leaves the LAN);
// start_array I [OPTION...] starts it again with its lab options and these, and says "done"
// once it serves.
constexpr const char* kArrayControl = R"sh(
array_ns() { echo "$(basename "$LAB_DIR" | sed 's/\.[^.]*$//')-a$1"; }
stop_array() {
    kill $(ip netns pids "$(array_ns "$1")")
    for t in $(seq 200); do
        [ -z "$(ip netns pids "$(array_ns "$1")")" ] && echo done && return
        sleep 0.05
    done
}
start_array() {
    i=$1; shift
    echo "$(sed -n "$((i + 1))p" "$LAB_ARRAYS") $*" >"$LAB_DIR/again.$i"
    rm -f "$LAB_DIR/again.$i.ready"
    ip netns exec "$(array_ns "$i")" "$LAB_SIM" --arrays "$LAB_DIR/again.$i" \
        --ready-file "$LAB_DIR/again.$i.ready" >/dev/null 2>&1 &
    for t in $(seq 200); do
        [ -e "$LAB_DIR/again.$i.ready" ] && echo done && return
        sleep 0.05
    done
}
)sh";

std::string ArrayControl(const std::string& commands) {
    return RunShell(kArrayControl + commands);
}

class WholeSystemLab : public CConsoleLab {
protected:
    // The window, its service serving the self-service page.
    void Start() { m_pDialog = &StartWindow({}, std::filesystem::path(ORVANE_SOURCE_DIR) / "www"); }
    CTabSystem& System() const { return *m_pDialog->TabSystem(); }
    CTabAccount& Account() const { return *m_pDialog->TabAccount(); }
    std::size_t RowOf(int i) const {
        return System().FindRow(EServerColumn::IPAddr, Utf8ToUtf16(Ip(i)));
    }

    // A pass that starts after everything so far: the one under way, if any, ends first.
    bool FreshPass() {
        return RunUntil([this] { return System().IsRefreshEnabled(); }, kWait) &&
               WaitForPassEnd(kWait);
    }
    // The arrays' rows selected with the mouse, then the Login Dialog; true once all say "Yes".
    bool LogIn(std::initializer_list<int> arrays, const char* password) {
        bool bFirst = true;
        for (const int i : arrays) {
            ClickRow(RowOf(i), bFirst ? Qt::NoModifier : Qt::ControlModifier);
            bFirst = false;
        }
        LoginWithKeys(QString::fromUtf8(kArrayAdmin), QString::fromUtf8(password));
        return RunUntil(
            [&] {
                return std::all_of(arrays.begin(), arrays.end(), [this](int i) {
                    return System().CellText(RowOf(i), EServerColumn::Auth) == u"Yes";
                });
            },
            kWait);
    }
    void ShowAccountTab() const {
        CXTabCtrl& tabs = m_pDialog->TabCtrl();
        QTest::mouseClick(&tabs, Qt::LeftButton, {}, tabs.tabRect(1).center());
    }
    // The user in no group but "Everyone", then the group with the user as its member.
    void CreateUserAndGroup() const {
        WhenModal<CAddUserDlg>([](CAddUserDlg& dialog) {
            Type(dialog, IDC_USER_NAME, Utf8ToUtf16(kUser));
            Type(dialog, IDC_USER_PASSWORD, Utf8ToUtf16(kUserPassword));
            Type(dialog, IDC_USER_CONFIRM, Utf8ToUtf16(kUserPassword));
            ClickOk(dialog);
        });
        QTest::mouseClick(Account().GetDlgItem(IDC_ADD_USER), Qt::LeftButton);
        WhenModal<CAddGroupDlg>([](CAddGroupDlg& dialog) {
            Type(dialog, IDC_GROUP_NAME, kGroup);
            ClickEntry(dialog.CheckUsers(),
                       dialog.CheckUsers().FindStringExact(Utf8ToUtf16(kUser)));
            ClickOk(dialog);
        });
        QTest::mouseClick(Account().GetDlgItem(IDC_ADD_GROUP), Qt::LeftButton);
    }
    // The group's access dialog: the MAC addresses it offers; the arrays given get checked.
    std::set<std::string> GrantAccess(std::initializer_list<int> arrays) const {
        ClickEntry(Account().Groups(), Account().Groups().FindStringExact(kGroup));
        std::set<std::string> offered;
        WhenModal<CGroupAccessDlg>([&offered, arrays](CGroupAccessDlg& dialog) {
            CListCtrl& list = dialog.Servers();
            constexpr auto kMacColumn = static_cast<std::size_t>(CGroupAccessDlg::EColumn::MAC);
            for (const int i : arrays) {
                ToggleCheck(list, list.FindItem(kMacColumn, Utf8ToUtf16(Mac(i))));
            }
            for (std::size_t row = 0; row < list.GetItemCount(); ++row) {
                offered.insert(Utf16ToUtf8(list.GetItemText(row, kMacColumn)));
            }
            ClickOk(dialog);
        });
        QTest::mouseClick(Account().GetDlgItem(IDC_GROUP_ACCESS), Qt::LeftButton);
        return offered;
    }
    // The selected group's servers on the Account tab, as "ip|mac|auth".
    std::set<std::string> AccountServers() const {
        std::set<std::string> rows;
        const CListCtrl& list = Account().Access();
        for (std::size_t row = 0; row < list.GetItemCount(); ++row) {
            rows.insert(Utf16ToUtf8(list.GetItemText(row, 0) + u"|" + list.GetItemText(row, 1) +
                                    u"|" + list.GetItemText(row, 2)));
        }
        return rows;
    }
    // The login fields of array i's record, as "authorized online user password".
    std::string Record(int i) const {
        const std::optional<CServerData> record =
            m_pDialog->Core().ServerRecord(Utf8ToUtf16(Mac(i)));
        if (!record) {
            return "none";
        }
        return std::to_string(record->m_bAuthorized) + " " + std::to_string(record->m_bOnline) +
               " " + Utf16ToUtf8(record->m_strLoginUserName + u" " + record->m_strLoginPasswd);
    }
    // The browser test against this window's service, from the client's namespace, with the
    // window thread running meanwhile; its exit status, or -1.
    int BrowserRun(std::string& output) {
        const std::string command =
            "bash '" ORVANE_SOURCE_DIR "/tests/www/run-page-test.sh' --netns \"$LAB_CLIENT_NS\" "
            "--service \"" +
            std::string(kService) + "\" " + std::string(kUser) + " '" + kUserPassword + "' '" +
            ORVANE_BIN_DIR + "/../screenshots' 2>&1; echo \"" + std::string(kStatusMark) + "$?\"";
        std::future<std::string> run = std::async(std::launch::async, RunShell, command);
        if (!RunUntil([&run] { return run.wait_for(0s) == std::future_status::ready; },
                      kBrowserWait)) {
            return -1;
        }
        output = run.get();
        const std::size_t status = output.rfind(kStatusMark);
        if (status == std::string::npos) {
            return -1;
        }
        const int code = std::stoi(output.substr(status + kStatusMark.size()));
        output.resize(status);
        return code;
    }

    // 1 and 2: the arrays appear, and three supported ones are logged in to.
    void DiscoverAndLogIn() {
        Start();
        ASSERT_TRUE(WaitForPassEnd(kWait));
        ASSERT_EQ(System().RowCount(), static_cast<std::size_t>(kArrayCount));
        std::set<std::string> rows;
        std::set<std::string> expected;
        for (int i = 0; i < kArrayCount; ++i) {
            rows.insert(RowText(static_cast<std::size_t>(i)));
            expected.insert(Row(i, "No"));
        }
        EXPECT_EQ(rows, expected);
        ASSERT_TRUE(LogIn({0, 1, 2}, kPassword));
        EXPECT_TRUE(Boxes().empty());
    }
    // 3 and 4: a user and a group that may reach two of them (the unsupported SAN is not
    // offered), and "/Query" from elsewhere on the LAN.
    void GrantTwo() {
        ShowAccountTab();
        CreateUserAndGroup();
        EXPECT_EQ(GrantAccess({0, 1}), (std::set<std::string>{Mac(0), Mac(1), Mac(2), Mac(4)}));
        EXPECT_EQ(AccountServers(), (std::set<std::string>{Ip(0) + "|" + Mac(0) + "|Yes",
                                                           Ip(1) + "|" + Mac(1) + "|Yes"}));
        EXPECT_TRUE(Boxes().empty());
        EXPECT_EQ(Query(kUser, kUserPassword),
                  Document("No", {Entry(0, kPassword), Entry(1, kPassword)}));
        EXPECT_EQ(Query(kAdmin, kAdminPassword), Document("Yes", {}));
    }
    // 5: array 0 takes a new password and pushes it from its own address; a push from the
    // client's address is answered as if the array were unknown.
    void PushPasswords() {
        ASSERT_TRUE(RunUntil([this] { return System().IsRefreshEnabled(); }, kWait));
        ASSERT_EQ(
            ArrayControl(std::string("stop_array 0; start_array 0 --admin-password ") + kPushed),
            "done\ndone\n");
        const std::string pushed = ArrayControl(
            "ip netns exec \"$(array_ns 0)\" \"$LAB_SIM\" --address " + Ip(0) + " --mac " + Mac(0) +
            " --push-password " + kPushed + " --manager \"$LAB_MGR_ADDR\"");
        EXPECT_NE(pushed.find("\r\n\r\n<Response><ErrCode>0</ErrCode></Response>"),
                  std::string::npos)
            << pushed;
        EXPECT_EQ(Query(kUser, kUserPassword), AfterPush());
        EXPECT_EQ(FromClient("--data-binary $'stolen\\r\\n' \"" + std::string(kService) +
                             "/UpdateAdminPasswd?" + Mac(1) + "\""),
                  "<Response><ErrCode>-1</ErrCode><ErrMsg>Server IP is not found.</ErrMsg>"
                  "</Response>");
        EXPECT_EQ(Query(kUser, kUserPassword), AfterPush());
    }
    // 6: array 1 leaves the LAN: its row goes, its record stays authorized but offline, and
    // "/Query" leaves it out until it is back, at the bottom of the list, with "Yes".
    void LeaveAndComeBack() {
        ASSERT_TRUE(RunUntil([this] { return System().IsRefreshEnabled(); }, kWait));
        ASSERT_EQ(ArrayControl("stop_array 1"), "done\n");
        ASSERT_TRUE(FreshPass());
        EXPECT_EQ(System().RowCount(), static_cast<std::size_t>(kArrayCount - 1));
        EXPECT_EQ(System().FindRow(EServerColumn::MAC, Utf8ToUtf16(Mac(1))), IServerListView::npos);
        EXPECT_EQ(Record(1), std::string("1 0 ") + kArrayAdmin + " " + kPassword);
        EXPECT_EQ(AccountServers(), (std::set<std::string>{Ip(0) + "|" + Mac(0) + "|Yes",
                                                           Ip(1) + "|" + Mac(1) + "|Yes"}));
        EXPECT_EQ(Query(kUser, kUserPassword), Document("No", {Entry(0, kPushed)}));
        ASSERT_EQ(ArrayControl("start_array 1"), "done\n");
        ASSERT_TRUE(FreshPass());
        ASSERT_EQ(System().RowCount(), static_cast<std::size_t>(kArrayCount));
        EXPECT_EQ(RowText(kArrayCount - 1), Row(1, "Yes"));
        EXPECT_EQ(Query(kUser, kUserPassword), AfterPush());
    }
    // 7: Export, a wiped store, Import: the same values; the arrays are logged in to again,
    // since their records are never stored, and "/Query" answers as before.
    void RebuildFromExport() {
        const CStoredValues users = ReadValues(StoreFile(), kUserKey);
        const CStoredValues groups = ReadValues(StoreFile(), kGroupKey);
        EXPECT_EQ(users.size(), 2u);
        EXPECT_EQ(groups.size(), 3u);
        const std::filesystem::path file = m_files / "directory.ovx";
        ClickWithFile(m_pDialog->GetDlgItem(IDC_EXPORT), file);
        StopWindow();
        WipeStore();
        Start();
        EXPECT_EQ(FromClient("-o /dev/null -w '%{http_code}' -u '" + std::string(kUser) + ":" +
                             kUserPassword + "' --data-binary $'x\\n' \"" + kService + "/Query\""),
                  "401");
        ClickWithFile(m_pDialog->GetDlgItem(IDC_IMPORT), file);
        EXPECT_EQ(ReadValues(StoreFile(), kUserKey), users);
        EXPECT_EQ(ReadValues(StoreFile(), kGroupKey), groups);
        EXPECT_EQ(Texts(Account().Groups()), (Names{u"Administrator", u"Everyone", kGroup}));
        ASSERT_TRUE(FreshPass());
        EXPECT_EQ(Query(kUser, kUserPassword), Document("No", {}));
        ASSERT_TRUE(LogIn({0}, kPushed));
        ASSERT_TRUE(LogIn({1, 2}, kPassword));
        EXPECT_EQ(Query(kUser, kUserPassword), AfterPush());
        EXPECT_EQ(Query(kAdmin, kAdminPassword), Document("Yes", {}));
        // The only boxes are the summaries of the export and the import.
        for (const CMessageBoxRequest& box : Boxes()) {
            EXPECT_TRUE(box.text.starts_with(u"Exported ") ||
                        box.text.starts_with(u"Imported from "))
                << Utf16ToUtf8(box.text);
        }
    }
    // 9: the audit trail, read after the last stop: each event above with its fields, and no
    // password of this test.
    void ReadTheTrail() const {
        std::ifstream in(AuditFile());
        std::vector<std::string> records;
        for (std::string line; std::getline(in, line);) {
            // The process id is a number that a password of digits could happen to be.
            records.push_back(std::regex_replace(line, std::regex(R"("pid":\d+)"), ""));
        }
        const std::string client = RunShell("printf %s \"$LAB_CLIENT_ADDR\"");
        const auto login = [](int i) {
            return R"("event":"login","source":"console","mac":")" + Mac(i) + R"(","ip":")" +
                   Ip(i) + R"(","user":"admin","result":"succeeded","array":")";
        };
        const std::string query = R"("event":"query","source":"service","address":")" + client +
                                  R"(","user":"nora","admin":false,"macs":")";
        const auto both = [&](const std::string& before, int a, int b) {
            std::vector<std::string> texts;
            for (const bool bSwapped : {false, true}) {
                const int x = bSwapped ? b : a;
                const int y = bSwapped ? a : b;
                texts.push_back(before + Mac(x) + "," + Mac(y) + R"(","ips":")" + Ip(x) + "," +
                                Ip(y) + "\"}");
            }
            return texts;
        };
        // Each expected record's text after its time (any one of them), and how many times it
        // is there at least. A refusal may be counted into its address's summary instead.
        const std::vector<std::pair<std::vector<std::string>, std::size_t>> expected = {
            {{R"("event":"start","source":"service","store":")"}, 2},
            {{R"("event":"stop","source":"service",)"}, 2},
            {{login(0)}, 2},
            {{login(1)}, 2},
            {{login(2)}, 2},
            {{R"("event":"user-add","source":"console","user":"nora","groups":"Everyone"})"}, 1},
            {{R"("event":"group-add","source":"console","group":"storage-ops","members":"nora"})"},
             1},
            {{R"("event":"group-access","source":"console","group":"storage-ops","macs":")" +
                  Mac(0) + "," + Mac(1) + "\"}",
              R"("event":"group-access","source":"console","group":"storage-ops","macs":")" +
                  Mac(1) + "," + Mac(0) + "\"}"},
             1},
            {both(query, 0, 1), 1},
            {{query + Mac(0) + R"(","ips":")" + Ip(0) + "\"}"}, 1},
            {{R"("event":"query","source":"service","address":")" + client +
              R"(","user":"admin","admin":true,"macs":"none","ips":"none"})"},
             2},
            {{R"("event":"push","source":"service","mac":")" + Mac(0) +
              R"(","result":"accepted","address":")" + Ip(0) + "\"}"},
             1},
            {{R"("event":"push","source":"service","mac":")" + Mac(1) +
              R"(","result":"refused","reason":"the server was logged in to at )" + Ip(1) +
              R"(","address":")" + client + "\"}"},
             1},
            {{R"("event":"credentials-refused","source":"service","user":"nora","address":")" +
                  client + "\"}",
              R"("event":"refusals-summary","source":"service","address":")" + client + "\""},
             1},
            {{R"("event":"export","source":"console","file":")" +
              (m_files / "directory.ovx").string() + R"(","result":"done"})"},
             1},
            {{R"("event":"import","source":"console","file":")" +
              (m_files / "directory.ovx").string() + R"(","result":"done"})"},
             1},
        };
        for (const auto& [texts, count] : expected) {
            const auto n = std::count_if(records.begin(), records.end(), [&](const std::string& r) {
                return std::any_of(texts.begin(), texts.end(), [&r](const std::string& text) {
                    return text.back() == '}' ? r.ends_with(text)
                                              : r.find(text) != std::string::npos;
                });
            });
            EXPECT_GE(static_cast<std::size_t>(n), count) << texts[0];
        }
        for (const char* secret : {kPassword, kPushed, kUserPassword, kAdminPassword, "stolen"}) {
            for (const std::string& record : records) {
                EXPECT_EQ(record.find(secret), std::string::npos) << secret << " in " << record;
            }
        }
    }
    // 8: the self-service page that the service serves, in a browser on the client.
    // It may skip only where its gate says its tools are missing: then the whole test is
    // reported as skipped, which CI (ORVANE_FAIL_ON_SKIP=1) fails.
    void OpenThePage() {
        std::string output;
        const int status = BrowserRun(output);
        if (status == kSkippedStatus && output.find(kGateSkipped) != std::string::npos) {
            std::cout << "NOTE: the browser step was skipped: " << output;
            ORVANE_SKIP("the browser step: " + output);
        }
        EXPECT_EQ(status, 0) << output;
    }
    static std::vector<std::string> AfterPush() {
        return Document("No", {Entry(0, kPushed), Entry(1, kPassword)});
    }

    CTempDir m_files;
    COrvaneSrvDlg* m_pDialog = nullptr;
};

TEST_F(WholeSystemLab, FromDiscoveryToTheBrowserThroughALeaveAndAStoreRebuiltFromExport) {
    if (!InLab()) {
        std::vector<std::string> extra;
        for (const CArrayKind& array : kArrays) {
            extra.emplace_back(array.extra);
        }
        RunInLab("--arrays " + std::to_string(kArrayCount) + " --client", extra, kShortSchedule);
        return;
    }
    ASSERT_NO_FATAL_FAILURE(DiscoverAndLogIn());
    ASSERT_NO_FATAL_FAILURE(GrantTwo());
    ASSERT_NO_FATAL_FAILURE(PushPasswords());
    ASSERT_NO_FATAL_FAILURE(LeaveAndComeBack());
    ASSERT_NO_FATAL_FAILURE(RebuildFromExport());
    OpenThePage();
    StopWindow();
    ReadTheTrail();
}

} // namespace
