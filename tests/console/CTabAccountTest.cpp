// The Account tab and its dialogs inside the main window, driven with clicks and keys: the first
// start, adding users and groups with the dialogs' checks, properties, deleting users and
// groups, the group access dialog over servers of every kind, and changes from the terminal.
#include "console/CAddGroupDlg.h"
#include "console/CAddUserDlg.h"
#include "console/CGroupAccessDlg.h"
#include "console/CWindowControlTarget.h"
#include "control/CControlCommands.h"
#include "core/CConfigFile.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CCheckListBox.h"
#include "resources/ResourceIds.h"
#include "tests/console/AccountTestSupport.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <optional>
#include <set>

namespace {

// The user dialog's three fields; the confirmation as the password unless given.
void TypeUser(CDialog& d, std::u16string_view name, std::u16string_view password,
              std::optional<std::u16string_view> confirm = {}) {
    Type(d, IDC_USER_NAME, name);
    Type(d, IDC_USER_PASSWORD, password);
    Type(d, IDC_USER_CONFIRM, confirm.value_or(password));
}

TEST_F(AccountTab, TheFirstStartSelectsAdministratorWithAdminAndNoServers) {
    EXPECT_EQ(Texts(Tab().Groups()), (Names{u"Administrator", u"Everyone"}));
    EXPECT_EQ(Tab().Groups().GetCurSel(), 0u);
    EXPECT_EQ(Texts(Tab().Users()), Names{u"admin"});
    const CListCtrl& access = Tab().Access();
    EXPECT_EQ(access.GetItemCount(), 0u);
    ASSERT_EQ(access.model()->columnCount(), 3);
    const char* headings[] = {"IP address", "MAC address", "Auth"};
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(access.model()->headerData(c, Qt::Horizontal).toString(), headings[c]);
    }
}

// One refused input of the user dialog: what is typed, the warning, and the field that has the
// caret afterwards.
struct CRefusedUser {
    std::u16string_view name, password, confirm, message;
    int focus;
};

TEST_F(AccountTab, AddUserRefusesWeakInputAndReturnsToTheFieldAtFault) {
    const std::u16string caseTwin =
        u"A user named admin exists already. User names may not differ in letter case only.";
    const CRefusedUser refused[] = {
        {u"", u"Secret", u"Secret", u"The user name is empty!", IDC_USER_NAME},
        {u"   ", u"Secret", u"Secret", u"The user name is empty!", IDC_USER_NAME},
        {u"admin", u"Secret", u"Secret", u"This user is already exist!", IDC_USER_NAME},
        {u"ADMIN", u"Secret", u"Secret", caseTwin, IDC_USER_NAME},
        {u"carl", u"", u"", u"The password is empty. Every user needs a password.",
         IDC_USER_PASSWORD},
        {u"carl", u"Secret", u"secret", u"Password is not match", IDC_USER_PASSWORD},
    };
    WhenModal<CAddUserDlg>([&](CAddUserDlg& d) {
        EXPECT_EQ(d.windowTitle(), "Create New User");
        EXPECT_EQ(Texts(d.CheckGroups()), Names{u"Administrator"}); // never "Everyone"
        ClickEntry(d.CheckGroups(), 0);
        bool bByKey = false;
        for (const CRefusedUser& input : refused) {
            TypeUser(d, input.name, input.password, input.confirm);
            // Enter in the last field and a click on OK take the same path.
            bByKey = !bByKey;
            ExpectRefused(d, bByKey ? d.GetDlgItem(IDC_USER_CONFIRM) : nullptr, input.message,
                          input.focus);
            EXPECT_EQ(d.GetDlgItemText(IDC_USER_NAME), input.name);
            // After a password warning both password fields are typed again.
            EXPECT_EQ(d.GetDlgItemText(IDC_USER_CONFIRM).empty(), input.focus == IDC_USER_PASSWORD);
            EXPECT_TRUE(d.CheckGroups().GetCheck(0));
        }
        TypeUser(d, u"carl", u"Secret");
        QTest::keyClick(d.GetDlgItem(IDC_USER_CONFIRM), Qt::Key_Return);
    });
    ClickButton(IDC_ADD_USER);
    EXPECT_EQ(m_boxes.size(), std::size(refused));
    EXPECT_EQ(Core().UserRecord(u"carl")->m_strPassword, u"Secret");
    EXPECT_EQ(GroupsOf(u"carl"), (Names{u"Administrator", u"Everyone"}));
    EXPECT_EQ(Texts(Tab().Users()), (Names{u"admin", u"carl"}));

    // No group checked; not a member of the group in view.
    WhenModal<CAddUserDlg>([](CAddUserDlg& d) {
        TypeUser(d, u"bob", u"b");
        ClickOk(d);
    });
    ClickButton(IDC_ADD_USER);
    EXPECT_EQ(Decode<CUserData>(Stored(kUserKey).at(u"bob")).m_listGroups, Names{u"Everyone"});
    EXPECT_EQ(Texts(Tab().Users()), (Names{u"admin", u"carl"}));

    // Cancel creates nothing, and the lists are shown afresh all the same. A record the
    // dialog would refuse (empty password, name differing in case only) stays as it came.
    Send(CDirectoryMessage::AddUser(true, User(u"CARL", u"", {u"Administrator"})));
    WhenModal<CAddUserDlg>([](CAddUserDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); });
    ClickButton(IDC_ADD_USER);
    EXPECT_EQ(Texts(Tab().Users()), (Names{u"admin", u"CARL", u"carl"}));
}

// Names are compared as people of every script type them, and a colon cannot reach the
// credential service; each warning returns to the name field.
TEST_F(AccountTab, NewNamesAreCheckedInEveryScript) {
    Send(CDirectoryMessage::AddUser(true, User(u"\u00e4dmin", u"pw", {u"Everyone"})));
    const std::pair<std::u16string_view, std::u16string_view> refused[] = {
        {u"\u00c4DMIN",
         u"A user named \u00e4dmin exists already. User names may not differ in letter case only."},
        {u"ann:1", u"A user name may not contain \":\": the credential service could not tell it "
                   u"from the password."},
    };
    WhenModal<CAddUserDlg>([&](CAddUserDlg& d) {
        TypeUser(d, u"", u"Secret");
        for (const auto& [name, message] : refused) {
            // Key clicks know ASCII only: the name arrives as a paste would.
            d.SetDlgItemText(IDC_USER_NAME, name);
            ExpectRefused(d, nullptr, message, IDC_USER_NAME);
        }
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    ClickButton(IDC_ADD_USER);
    WhenModal<CAddGroupDlg>([&](CAddGroupDlg& d) {
        d.SetDlgItemText(IDC_GROUP_NAME, u"\u2003\u3000");
        ExpectRefused(d, nullptr, u"The group name is empty!", IDC_GROUP_NAME);
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    ClickButton(IDC_ADD_GROUP);
    EXPECT_EQ(Core().UserNames().size(), 2u);
}

TEST_F(AccountTab, PropertiesShowTheCurrentStateAndAnUncheckedMemberLosesTheGroup) {
    ClickEntry(Tab().Users(), 0);
    WhenModal<CAddUserDlg>([](CAddUserDlg& d) {
        EXPECT_EQ(d.windowTitle(), "User Properties");
        EXPECT_FALSE(d.GetDlgItem(IDC_USER_NAME)->isEnabled());
        for (int id : {IDC_USER_PASSWORD, IDC_USER_CONFIRM}) {
            auto* edit = qobject_cast<QLineEdit*>(d.GetDlgItem(id));
            EXPECT_EQ(edit->text(), "9983");
            EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
        }
        EXPECT_TRUE(d.CheckGroups().GetCheck(0));
        ClickOk(d);
    });
    ClickButton(IDC_USER_PROPERTIES);
    EXPECT_EQ(Core().UserRecord(u"admin")->m_strPassword, u"9983");
    EXPECT_EQ(GroupsOf(u"admin"), (Names{u"Administrator", u"Everyone"}));

    // A new group of one user, after the names it refuses.
    Send(CDirectoryMessage::AddUser(true, User(u"bob", u"", {u"Everyone"})));
    const std::pair<std::u16string_view, std::u16string_view> refused[] = {
        {u"", u"The group name is empty!"},
        {u"   ", u"The group name is empty!"},
        {u"Everyone", u"This group is already exist!"},
        {u"everyone", u"A group named Everyone exists already. Group names may not differ in "
                      u"letter case only."},
    };
    WhenModal<CAddGroupDlg>([&](CAddGroupDlg& d) {
        ClickEntry(d.CheckUsers(), 1);
        for (const auto& [name, message] : refused) {
            Type(d, IDC_GROUP_NAME, name);
            ExpectRefused(d, d.GetDlgItem(IDC_GROUP_NAME), message, IDC_GROUP_NAME);
        }
        Type(d, IDC_GROUP_NAME, u"Staff");
        ClickOk(d);
    });
    ClickButton(IDC_ADD_GROUP);
    EXPECT_EQ(m_boxes.size(), std::size(refused));
    EXPECT_EQ(GroupsOf(u"bob"), (Names{u"Everyone", u"Staff"}));
    EXPECT_EQ(Tab().Groups().GetText(Tab().Groups().GetCurSel()), u"Administrator");

    Send(CDirectoryMessage::SetGroupAccess(true, Group(u"Everyone", {}, {u"00:1B:4D:00:00:01"})));
    SelectGroup(u"Everyone");
    WhenModal<CAddGroupDlg>([](CAddGroupDlg& d) {
        EXPECT_EQ(d.windowTitle(), "Group Properties");
        EXPECT_FALSE(d.GetDlgItem(IDC_GROUP_NAME)->isEnabled());
        EXPECT_TRUE(d.CheckUsers().GetCheck(0) && d.CheckUsers().GetCheck(1));
        ClickEntry(d.CheckUsers(), 1);
        ClickOk(d);
    });
    ClickButton(IDC_GROUP_PROPERTIES);
    EXPECT_EQ(MembersOf(u"Everyone"), Names{u"admin"});
    EXPECT_EQ(Decode<CUserData>(Stored(kUserKey).at(u"bob")).m_listGroups, Names{u"Staff"});
    EXPECT_EQ(Core().GroupRecord(u"Everyone")->m_listAccess, Names{u"00:1B:4D:00:00:01"});
    EXPECT_EQ(Texts(Tab().Users()), Names{u"admin"});
}

// Directory groups: one DN a line, blank lines and a second spelling left out; the first line
// that is no DN is named in the warning and gets the caret. Properties show them and keep them.
TEST_F(AccountTab, DirectoryGroupsAreOneDnALineCheckedOnOkAndShownByProperties) {
    const auto edit = [](CDialog& d) {
        return qobject_cast<QPlainTextEdit*>(d.GetDlgItem(IDC_GROUP_DIRECTORY_GROUPS));
    };
    WhenModal<CAddGroupDlg>([&](CAddGroupDlg& d) {
        Type(d, IDC_GROUP_NAME, u"dir");
        edit(d)->setPlainText("cn=ops,dc=x\n\n  not a dn  \ncn=b\\,c,dc=x");
        ExpectRefused(d, nullptr,
                      u"Directory groups, line 3: \"not a dn\" is not a DN: each part between "
                      u"commas is attribute=value, such as "
                      u"cn=storage-admins,ou=groups,dc=example,dc=com.",
                      IDC_GROUP_DIRECTORY_GROUPS);
        EXPECT_EQ(edit(d)->textCursor().blockNumber(), 2);
        edit(d)->setPlainText("cn=ops,dc=x\n\n CN=OPS, DC=x \ncn=b\\,c,dc=x\n");
        ClickOk(d);
    });
    ClickButton(IDC_ADD_GROUP);
    const Names dns{u"cn=ops,dc=x", u"cn=b\\,c,dc=x"};
    EXPECT_EQ(Core().GroupRecord(u"dir")->m_listDirectoryGroups, dns);

    SelectGroup(u"dir");
    WhenModal<CAddGroupDlg>([&](CAddGroupDlg& d) {
        EXPECT_EQ(edit(d)->toPlainText(), "cn=ops,dc=x\ncn=b\\,c,dc=x");
        ClickEntry(d.CheckUsers(), 0);
        ClickOk(d);
    });
    ClickButton(IDC_GROUP_PROPERTIES);
    EXPECT_EQ(MembersOf(u"dir"), Names{u"admin"});
    EXPECT_EQ(Decode<CGroupData>(Stored(kGroupKey).at(u"dir")).m_listDirectoryGroups, dns);
}

TEST_F(AccountTab, DeletingSelectedUsersAsksOnceAndTakesThemFromEveryGroup) {
    for (const char16_t* name : {u"u1", u"u2", u"u3", u"u4"}) {
        Send(CDirectoryMessage::AddUser(true, User(name, u"", {u"Administrator"})));
    }
    Send(CDirectoryMessage::AddGroup(true, Group(u"Ops", {u"u1", u"u2", u"u3", u"u4"})));
    SelectGroup(u"Administrator"); // admin u1 u2 u3 u4
    for (std::size_t row : {1u, 2u, 4u}) {
        ClickEntry(Tab().Users(), row);
    }
    EXPECT_EQ(ModalsOpenedBy([this] { ClickButton(IDC_USER_PROPERTIES); }), 0);
    m_answer = EMessageAnswer::No;
    ClickButton(IDC_USER_DELETE);
    EXPECT_EQ(Core().UserNames().size(), 5u);

    m_answer = EMessageAnswer::Yes;
    QTest::keyClick(&Tab().Users(), Qt::Key_Delete); // as the button
    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_EQ(m_boxes[1].text, u"Sure to delete?");
    EXPECT_EQ(m_boxes[1].icon, EMessageIcon::Question);
    EXPECT_EQ(m_boxes[1].buttons, EMessageButtons::YesNo);
    EXPECT_EQ(Texts(Tab().Users()), (Names{u"admin", u"u3"}));
    EXPECT_EQ(MembersOf(u"Ops"), Names{u"u3"});
    EXPECT_EQ(Stored(kUserKey).size(), 2u);
    EXPECT_EQ(Decode<CGroupData>(Stored(kGroupKey).at(u"Ops")).m_listUsers, Names{u"u3"});
}

TEST_F(AccountTab, DeletingTheSelectedGroupLeavesNoneSelectedAndTheOtherListsAsTheyWere) {
    Send(CDirectoryMessage::AddUser(true, User(u"bob", u"")));
    Send(CDirectoryMessage::AddGroup(true, Group(u"Ops", {u"admin", u"bob"}, {u"00:1B:4D:0:9"})));
    SelectGroup(u"Ops");
    QTest::keyClick(&Tab().Groups(), Qt::Key_Delete); // as the button
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, u"Sure to delete?");
    EXPECT_FALSE(Core().GroupRecord(u"Ops").has_value());
    EXPECT_EQ(GroupsOf(u"bob"), Names{});
    EXPECT_EQ(Texts(Tab().Groups()), (Names{u"Administrator", u"Everyone"}));
    EXPECT_EQ(Tab().Groups().GetCurSel(), CListBox::npos);
    EXPECT_EQ(Texts(Tab().Users()), (Names{u"admin", u"bob"}));
    EXPECT_EQ(Tab().Access().GetItemCount(), 1u);
    // Commands that need a group now do nothing.
    EXPECT_EQ(ModalsOpenedBy([this] { ClickButton(IDC_GROUP_ACCESS); }), 0);
    ClickButton(IDC_GROUP_DELETE);
    EXPECT_EQ(m_boxes.size(), 1u);
}

TEST_F(AccountTab, BuiltInAccountsAreNotDeletedAndTheDefaultPasswordIsWarnedOf) {
    for (const char16_t* group : {u"Administrator", u"Everyone"}) {
        SelectGroup(group);
        ClickButton(IDC_GROUP_DELETE);
    }
    ClickEntry(Tab().Users(), 0); // admin
    ClickButton(IDC_USER_DELETE);
    ASSERT_EQ(m_boxes.size(), 6u); // each after "Sure to delete?"
    for (std::size_t i = 1; i < m_boxes.size(); i += 2) {
        EXPECT_TRUE(m_boxes[i].text.ends_with(u"can be edited but not deleted."));
    }
    EXPECT_EQ(Texts(Tab().Users()), Names{u"admin"});

    // The line goes with the default password, and comes back with an import or an undone change.
    CTempDir dir;
    ASSERT_EQ(CConfigFile::Export(dir / "saved.ovx", Core()).status, EConfigStatus::Ok);
    QWidget& line = *m_window->WarningLine();
    EXPECT_TRUE(line.isVisibleTo(&*m_window));
    auto changeTo = [&line](std::u16string_view password) {
        WhenModal<CAddUserDlg>([password](CAddUserDlg& d) {
            Type(d, IDC_USER_PASSWORD, password);
            Type(d, IDC_USER_CONFIRM, password);
            ClickOk(d);
        });
        QTest::mouseClick(line.findChild<QPushButton*>(), Qt::LeftButton);
    };
    changeTo(u"better");
    EXPECT_FALSE(line.isVisibleTo(&*m_window));
    CConfigFile::Import(dir / "saved.ovx", Core());
    EXPECT_TRUE(line.isVisibleTo(&*m_window));
    WithStoreLocked([&] { changeTo(u"better"); });
    EXPECT_TRUE(line.isVisibleTo(&*m_window));
}

TEST_F(AccountTab, AChangeTheStoreRefusesIsReportedAndNotShown) {
    Send(CDirectoryMessage::AddGroup(true, Group(u"Ops", {u"admin"})));
    SelectGroup(u"Ops");
    const CStoredValues users = Stored(kUserKey);
    const CStoredValues groups = Stored(kGroupKey);
    WithStoreLocked([this] {
        WhenModal<CAddUserDlg>([](CAddUserDlg& d) {
            TypeUser(d, u"bob", u"b");
            ClickOk(d);
        });
        ClickButton(IDC_ADD_USER);
        ClickButton(IDC_GROUP_DELETE);
    });
    // One box per refused change: the add, the delete (after "Sure to delete?").
    std::vector<CMessageBoxRequest> refusals;
    for (const CMessageBoxRequest& box : m_boxes) {
        if (box.text.starts_with(u"Failed to save the directory: ")) {
            EXPECT_EQ(box.icon, EMessageIcon::Error);
            refusals.push_back(box);
        }
    }
    EXPECT_EQ(refusals.size(), 2u);
    EXPECT_FALSE(Core().UserRecord(u"bob").has_value());
    EXPECT_EQ(MembersOf(u"Ops"), Names{u"admin"});
    EXPECT_EQ(GroupsOf(u"admin"), (Names{u"Administrator", u"Everyone", u"Ops"}));
    EXPECT_EQ(Stored(kUserKey), users);
    EXPECT_EQ(Stored(kGroupKey), groups);
    EXPECT_EQ(Texts(Tab().Groups()), (Names{u"Administrator", u"Everyone", u"Ops"}));
    EXPECT_EQ(Tab().Groups().GetText(Tab().Groups().GetCurSel()), u"Ops");
    EXPECT_EQ(Texts(Tab().Users()), Names{u"admin"});
}

// Servers of every kind the access dialog sorts out, filed directly in the table.
TEST_F(AccountTab, ChangesFromTheTerminalShowAtOnceAndKeepTheSelectedGroup) {
    SelectGroup(u"Everyone");
    CWindowControlTarget target(*m_window);
    CControlCommands commands(target, {});
    int status = -1;
    const auto run = [&](std::vector<std::string> args) {
        commands.Run(args, [&status](CControlReply reply) { status = reply.nStatus; });
        return status;
    };
    EXPECT_EQ(run({"user", "add", "carol", "--password", "pw"}), 0);
    EXPECT_EQ(Texts(Tab().Users()), (Names{u"admin", u"carol"}));
    EXPECT_EQ(run({"group", "add", "ops", "--members", "carol"}), 0);
    EXPECT_EQ(Texts(Tab().Groups()), (Names{u"Administrator", u"Everyone", u"ops"}));
    EXPECT_EQ(Tab().Groups().GetText(Tab().Groups().GetCurSel()), u"Everyone");
    EXPECT_TRUE(m_boxes.empty());
}

class AccessTab : public AccountTab {
protected:
    static constexpr const char16_t* kSupported = u"00:1B:4D:00:00:01";   // SAN, known model
    static constexpr const char16_t* kUnsupported = u"00:1B:4D:00:00:02"; // SAN, other vendor
    static constexpr const char16_t* kNas = u"00:1B:4D:00:00:03";         // not SAN, no vendor
    static constexpr const char16_t* kUpper = u"00:1B:4D:AA:00:04";       // listed in lower case
    static constexpr const char16_t* kLower = u"00:1b:4d:aa:00:04";
    static constexpr const char16_t* kGone = u"00:1B:4D:00:00:09"; // never discovered

    void SetUp() override {
        AccountTab::SetUp();
        AddServer("10.0.0.1", kSupported, "SAN", "Tarvik Networks", true);
        AddServer("10.0.0.2", kUnsupported, "SAN", "Elsewhere", false);
        AddServer("10.0.0.3", kNas, "NAS", "", false);
        AddServer("10.0.0.4", kUpper, "SAN", "Halvard", false);
        Send(CDirectoryMessage::SetGroupAccess(
            true, Group(u"Administrator", {}, {kGone, kUnsupported, kSupported, kGone, kLower})));
        SelectGroup(u"Administrator");
    }
    void AddServer(const char* ip, const char16_t* mac, const char* type, const char* vendor,
                   bool bAuthorized) {
        auto server = std::make_unique<CServerData>();
        server->SetIPAddr(ip);
        server->SetMAC(Utf16ToUtf8(mac));
        server->SetType(type);
        server->SetVendor(vendor);
        server->SetModel("Evask");
        server->SetSystemName("array");
        server->SetProduct("P1");
        server->SetVersion("1.0");
        server->m_bAuthorized = bAuthorized ? 1 : 0;
        Core().ChangeServers([&](CServerTable& servers) { servers.Add(mac, std::move(server)); });
    }
    // Rows with their check marks; those of servers in a set, since the table has no order.
    static std::pair<std::set<Names>, std::vector<Names>> Rows(const CListCtrl& list,
                                                               std::size_t servers) {
        std::pair<std::set<Names>, std::vector<Names>> rows;
        for (std::size_t r = 0; r < list.GetItemCount(); ++r) {
            Names row;
            for (int c = 0; c < list.model()->columnCount(); ++c) {
                row.push_back(list.GetItemText(r, static_cast<std::size_t>(c)));
            }
            row.push_back(list.GetCheck(r) ? u"checked" : u"");
            if (r < servers) {
                rows.first.insert(row);
            } else {
                rows.second.push_back(row);
            }
        }
        return rows;
    }
    Names Access() { return Core().GroupRecord(u"Administrator")->m_listAccess; }
};

TEST_F(AccessTab, SupportedServersAreOfferedWithPlaceholdersForEveryOtherEntryOnTheList) {
    EXPECT_EQ(Rows(Tab().Access(), 2),
              (std::pair<std::set<Names>, std::vector<Names>>{
                  {{u"10.0.0.1", kSupported, u"Yes", u""}, {u"10.0.0.2", kUnsupported, u"No", u""}},
                  {{u"--", kGone, u"--", u""}, {u"--", kLower, u"--", u""}}}));
    std::pair<std::set<Names>, std::vector<Names>> shown;
    WhenModal<CGroupAccessDlg>([&shown](CGroupAccessDlg& d) {
        EXPECT_EQ(d.GetDlgItemText(IDC_ACCESS_GROUP_NAME), u"Administrator");
        shown = Rows(d.Servers(), 3);
        ClickOk(d);
    });
    ClickButton(IDC_GROUP_ACCESS);
    const std::u16string c = u"checked";
    EXPECT_EQ(shown.first,
              (std::set<Names>{{u"10.0.0.1", u"array", u"P1", u"1.0", kSupported, u"Yes", c},
                               {u"10.0.0.3", u"array", u"P1", u"1.0", kNas, u"No", u""},
                               {u"10.0.0.4", u"array", u"P1", u"1.0", kUpper, u"No", u""}}));
    EXPECT_EQ(shown.second,
              (std::vector<Names>{{u"--", u"--", u"--", u"--", kGone, u"--", c},
                                  {u"--", u"--", u"--", u"--", kUnsupported, u"--", c},
                                  {u"--", u"--", u"--", u"--", kLower, u"--", c}}));
    // OK without changes: the checked rows in row order, the doubled entry once.
    EXPECT_EQ(Access(), (Names{kSupported, kGone, kUnsupported, kLower}));
    EXPECT_EQ(Decode<CGroupData>(Stored(kGroupKey).at(u"Administrator")).m_listAccess, Access());
}

TEST_F(AccessTab, CheckingAndUncheckingRowsChangesTheListAndCancelChangesNothing) {
    const auto rowOf = [](const CListCtrl& list, const char16_t* mac) {
        return list.FindItem(static_cast<std::size_t>(CGroupAccessDlg::EColumn::MAC), mac);
    };
    WhenModal<CGroupAccessDlg>([&](CGroupAccessDlg& d) {
        ToggleCheck(d.Servers(), rowOf(d.Servers(), kNas));
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    ClickButton(IDC_GROUP_ACCESS);
    EXPECT_EQ(Access(), (Names{kGone, kUnsupported, kSupported, kGone, kLower}));

    WhenModal<CGroupAccessDlg>([&](CGroupAccessDlg& d) {
        ToggleCheck(d.Servers(), rowOf(d.Servers(), kNas));
        ToggleCheck(d.Servers(), rowOf(d.Servers(), kGone));
        ToggleCheck(d.Servers(), rowOf(d.Servers(), kSupported));
        ClickEntry(d.Servers(), 0, 1); // selecting a row leaves its check box alone
        ClickOk(d);
    });
    ClickButton(IDC_GROUP_ACCESS);
    EXPECT_EQ(Access(), (Names{kNas, kUnsupported, kLower}));
    EXPECT_EQ(Rows(Tab().Access(), 2).first,
              (std::set<Names>{{u"10.0.0.3", kNas, u"No", u""},
                               {u"10.0.0.2", kUnsupported, u"No", u""}}));
}

TEST_F(AccessTab, TheButtonsTickOnlyTheShownRowsSpaceTheFocusedOneAndTheCountFollows) {
    Names counts;
    WhenModal<CGroupAccessDlg>([&](CGroupAccessDlg& d) {
        const auto count = [&] { counts.push_back(d.GetDlgItemText(IDC_ACCESS_COUNT)); };
        const auto key = [&d](Qt::Key k) { QTest::keyClick(d.focusWidget(), k); };
        d.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&d));
        count();
        // Tab walks the filter, the list, the buttons, and back.
        EXPECT_EQ(d.focusWidget(), d.GetDlgItem(IDC_ACCESS_FILTER));
        for (const int id : {IDC_ACCESS_SERVERS, IDC_ACCESS_SELECT_SHOWN, IDC_ACCESS_CLEAR_SHOWN,
                             CDialog::IDOK, CDialog::IDCANCEL, IDC_ACCESS_FILTER}) {
            key(Qt::Key_Tab);
            EXPECT_EQ(d.focusWidget(), d.GetDlgItem(id)) << id;
        }
        Type(d, IDC_ACCESS_FILTER, u"10.0.0.3");
        key(Qt::Key_Return); // on to the rows it leaves, not OK
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(d.focusWidget(), &d.Servers());
        QTest::mouseClick(d.GetDlgItem(IDC_ACCESS_SELECT_SHOWN), Qt::LeftButton);
        count();
        Type(d, IDC_ACCESS_FILTER, u"10.0.0");
        QTest::mouseClick(d.GetDlgItem(IDC_ACCESS_CLEAR_SHOWN), Qt::LeftButton);
        count(); // the placeholders, which that filter hides, stay ticked
        Type(d, IDC_ACCESS_FILTER, u"");
        // The top row (10.0.0.1) focused in a cell without a check box, then the next one.
        d.Servers().setFocus();
        d.Servers().setCurrentIndex(d.Servers().model()->index(0, 2));
        for (const Qt::Key k : {Qt::Key_Space, Qt::Key_Down, Qt::Key_Space, Qt::Key_Space}) {
            key(k);
            if (k == Qt::Key_Space) {
                count();
            }
        }
        ClickOk(d);
    });
    ClickButton(IDC_GROUP_ACCESS);
    EXPECT_EQ(counts,
              (Names{u"4 of 6 arrays ticked", u"5 of 6 arrays ticked", u"3 of 6 arrays ticked",
                     u"4 of 6 arrays ticked", u"5 of 6 arrays ticked", u"4 of 6 arrays ticked"}));
    EXPECT_EQ(Access(), (Names{kSupported, kGone, kUnsupported, kLower}));
}

TEST_F(AccessTab, TheDialogGrowsWithItsListAndOpensAgainAtTheSizeItWasLeftAt) {
    const QSize more(20, 150); // within the offscreen screen
    QSize grown;
    WhenModal<CGroupAccessDlg>([&](CGroupAccessDlg& d) {
        EXPECT_EQ(d.size(), QSize(775, 406));
        const QSize list = d.Servers().size();
        const QPoint ok = d.GetDlgItem(CDialog::IDOK)->pos();
        d.resize(d.size() + more);
        grown = d.size();
        EXPECT_EQ(d.Servers().size(), list + more);
        EXPECT_EQ(d.GetDlgItem(CDialog::IDOK)->pos(), ok + QPoint(more.width(), more.height()));
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    ClickButton(IDC_GROUP_ACCESS);
    QSize reopened;
    WhenModal<CGroupAccessDlg>([&](CGroupAccessDlg& d) {
        reopened = d.size();
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    ClickButton(IDC_GROUP_ACCESS);
    EXPECT_EQ(reopened, grown);
}

} // namespace
