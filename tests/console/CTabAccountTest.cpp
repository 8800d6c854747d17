// The Account tab and its dialogs inside the main window, driven with clicks and keys: the first
// start, adding users and the dialogs' checks, user and group properties, deleting users and
// groups, and the group access dialog over servers of every kind.
#include "console/CAddGroupDlg.h"
#include "console/CAddUserDlg.h"
#include "console/CGroupAccessDlg.h"
#include "platform/ui/CCheckListBox.h"
#include "platform/ui/CListBox.h"
#include "platform/ui/CListCtrl.h"
#include "resources/ResourceIds.h"
#include "tests/console/AccountTestSupport.h"

#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>
#include <set>

namespace {

TEST_F(AccountTab, TheFirstStartSelectsAdministratorWithAdminAndNoServers) {
    EXPECT_EQ(Texts(Tab().Groups()), (Names{u"Administrator", u"Everyone"}));
    EXPECT_EQ(Tab().Groups().GetCurSel(), 0u);
    EXPECT_EQ(Texts(Tab().Users()), Names{u"admin"});
    const CListCtrl& access = Tab().Access();
    EXPECT_EQ(access.GetItemCount(), 0u);
    const char* headings[] = {"IP address", "MAC address", "Auth"};
    const int widths[] = {100, 120, 50};
    ASSERT_EQ(access.model()->columnCount(), 3);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(access.model()->headerData(c, Qt::Horizontal).toString(), headings[c]);
        EXPECT_EQ(access.columnWidth(c), Tab().Units().DesignPixels(widths[c]));
    }
    EXPECT_TRUE(access.showGrid());
    EXPECT_EQ(access.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(AccountTab, AddUserChecksItsInputInOrderAndKeepsItAfterEachMessage) {
    WhenModal<CAddUserDlg>([](CAddUserDlg& d) {
        EXPECT_EQ(d.windowTitle(), "Create New User");
        EXPECT_TRUE(d.GetDlgItem(IDC_USER_NAME)->isEnabled());
        EXPECT_EQ(Texts(d.CheckGroups()), Names{u"Administrator"}); // never "Everyone"
        ClickEntry(d.CheckGroups(), 0);
        Type(d, IDC_USER_PASSWORD, u"Secret");
        Type(d, IDC_USER_CONFIRM, u"secret");
        ClickOk(d); // empty name
        Type(d, IDC_USER_NAME, u"admin");
        ClickOk(d); // taken
        Type(d, IDC_USER_NAME, u"Admin");
        ClickOk(d); // the passwords differ in case only
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(d.GetDlgItemText(IDC_USER_PASSWORD), u"Secret");
        EXPECT_TRUE(d.CheckGroups().GetCheck(0));
        Type(d, IDC_USER_CONFIRM, u"Secret");
        QTest::keyClick(d.GetDlgItem(IDC_USER_CONFIRM), Qt::Key_Return);
    });
    ClickButton(IDC_ADD_USER);
    ASSERT_EQ(Boxes().size(), 3u);
    const std::u16string expected[] = {u"The user name is empty!", u"This user is already exist!",
                                       u"Password is not match"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Boxes()[i].text, expected[i]);
        EXPECT_EQ(Boxes()[i].icon, EMessageIcon::Warning);
        EXPECT_EQ(Boxes()[i].buttons, EMessageButtons::Ok);
        EXPECT_EQ(Boxes()[i].caption, u"OrvaneSrv");
    }
    EXPECT_EQ(Password(u"Admin"), u"Secret");
    EXPECT_EQ(GroupsOf(u"Admin"), (Names{u"Administrator", u"Everyone"}));
    EXPECT_EQ(Texts(Tab().Users()), (Names{u"Admin", u"admin"}));

    // No group checked and both passwords empty; the new user is not in the selected group.
    WhenModal<CAddUserDlg>([](CAddUserDlg& d) {
        Type(d, IDC_USER_NAME, u"bob");
        ClickOk(d);
    });
    ClickButton(IDC_ADD_USER);
    EXPECT_EQ(GroupsOf(u"bob"), Names{u"Everyone"});
    EXPECT_EQ(Password(u"bob"), u"");
    EXPECT_EQ(Texts(Tab().Users()), (Names{u"Admin", u"admin"}));
    EXPECT_EQ(StoredUser(u"bob").m_listGroups, Names{u"Everyone"});

    // Cancel creates nothing, and the lists are shown afresh all the same.
    Send(CDirectoryMessage::AddUser(true, User(u"carl", u"", {u"Administrator"})));
    WhenModal<CAddUserDlg>([](CAddUserDlg& d) {
        Type(d, IDC_USER_NAME, u"dave");
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    ClickButton(IDC_ADD_USER);
    EXPECT_FALSE(Core().m_mapUsers.contains(u"dave"));
    EXPECT_EQ(Texts(Tab().Users()), (Names{u"Admin", u"admin", u"carl"}));
    EXPECT_EQ(Boxes().size(), 3u);
}

TEST_F(AccountTab, AddGroupRefusesEmptyAndTakenNamesAndLinksTheCheckedUsers) {
    Send(CDirectoryMessage::AddUser(true, User(u"bob", u"b")));
    WhenModal<CAddGroupDlg>([](CAddGroupDlg& d) {
        EXPECT_EQ(d.windowTitle(), "Create New Group");
        EXPECT_EQ(Texts(d.CheckUsers()), (Names{u"admin", u"bob"}));
        ClickEntry(d.CheckUsers(), 1);
        ClickOk(d);
        Type(d, IDC_GROUP_NAME, u"Everyone");
        ClickOk(d);
        Type(d, IDC_GROUP_NAME, u"everyone"); // differs in case only: a new group
        EXPECT_TRUE(d.CheckUsers().GetCheck(1));
        ClickOk(d);
    });
    ClickButton(IDC_ADD_GROUP);
    ASSERT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(Boxes()[0].text, u"The group name is empty!");
    EXPECT_EQ(Boxes()[1].text, u"This group is already exist!");
    EXPECT_EQ(Boxes()[1].icon, EMessageIcon::Warning);
    EXPECT_EQ(MembersOf(u"everyone"), Names{u"bob"});
    EXPECT_EQ(GroupsOf(u"bob"), Names{u"everyone"});
    // The selection stays where it was.
    EXPECT_EQ(Texts(Tab().Groups()), (Names{u"Administrator", u"Everyone", u"everyone"}));
    EXPECT_EQ(Tab().Groups().GetText(Tab().Groups().GetCurSel()), u"Administrator");

    // The user dialog lists the group that differs from "Everyone" in case.
    WhenModal<CAddUserDlg>([](CAddUserDlg& d) {
        EXPECT_EQ(Texts(d.CheckGroups()), (Names{u"Administrator", u"everyone"}));
        d.reject();
    });
    ClickButton(IDC_ADD_USER);
}

TEST_F(AccountTab, UserPropertiesShowTheStoredPasswordMaskedAndTheGroupsChecked) {
    ClickEntry(Tab().Users(), 0);
    WhenModal<CAddUserDlg>([](CAddUserDlg& d) {
        EXPECT_EQ(d.windowTitle(), "User Properties");
        EXPECT_FALSE(d.GetDlgItem(IDC_USER_NAME)->isEnabled());
        EXPECT_EQ(d.GetDlgItemText(IDC_USER_NAME), u"admin");
        for (int id : {IDC_USER_PASSWORD, IDC_USER_CONFIRM}) {
            auto* edit = qobject_cast<QLineEdit*>(d.GetDlgItem(id));
            EXPECT_EQ(edit->text(), "9983");
            EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
        }
        EXPECT_EQ(Texts(d.CheckGroups()), Names{u"Administrator"});
        EXPECT_TRUE(d.CheckGroups().GetCheck(0));
        ClickOk(d);
    });
    ClickButton(IDC_USER_PROPERTIES);
    EXPECT_EQ(Password(u"admin"), u"9983");
    EXPECT_EQ(GroupsOf(u"admin"), (Names{u"Administrator", u"Everyone"}));
    EXPECT_EQ(MembersOf(u"Administrator"), Names{u"admin"});

    // A member without a user record: empty passwords, nothing checked; OK creates the user.
    Send(CDirectoryMessage::ModifyGroup(true, Group(u"Administrator", {u"admin", u"ghost"})));
    SelectGroup(u"Administrator");
    ClickEntry(Tab().Users(), Tab().Users().FindStringExact(u"ghost"));
    WhenModal<CAddUserDlg>([](CAddUserDlg& d) {
        EXPECT_EQ(d.GetDlgItemText(IDC_USER_PASSWORD), u"");
        EXPECT_FALSE(d.CheckGroups().GetCheck(0));
        Type(d, IDC_USER_PASSWORD, u"boo");
        Type(d, IDC_USER_CONFIRM, u"boo");
        ClickOk(d);
    });
    ClickButton(IDC_USER_PROPERTIES);
    EXPECT_EQ(Password(u"ghost"), u"boo");
    EXPECT_EQ(GroupsOf(u"ghost"), Names{u"Everyone"});
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(AccountTab, UserPropertiesWantExactlyOneSelectedUser) {
    Send(CDirectoryMessage::AddUser(true, User(u"bob", u"", {u"Administrator"})));
    SelectGroup(u"Administrator");
    EXPECT_EQ(ModalsOpenedBy([this] { ClickButton(IDC_USER_PROPERTIES); }), 0);
    ClickEntry(Tab().Users(), 0);
    ClickEntry(Tab().Users(), 1);
    EXPECT_EQ(ModalsOpenedBy([this] { ClickButton(IDC_USER_PROPERTIES); }), 0);
    ClickEntry(Tab().Users(), 0); // a second click takes the entry out of the selection
    EXPECT_EQ(ModalsOpenedBy([this] { ClickButton(IDC_USER_PROPERTIES); }), 1);
}

TEST_F(AccountTab, UncheckingAMemberInGroupPropertiesTakesTheGroupFromThatUser) {
    Send(CDirectoryMessage::AddUser(true, User(u"bob", u"", {u"Everyone"})));
    Send(CDirectoryMessage::SetGroupAccess(true, Group(u"Everyone", {}, {u"00:1B:4D:00:00:01"})));
    SelectGroup(u"Everyone");
    WhenModal<CAddGroupDlg>([](CAddGroupDlg& d) {
        EXPECT_EQ(d.windowTitle(), "Group Properties");
        EXPECT_FALSE(d.GetDlgItem(IDC_GROUP_NAME)->isEnabled());
        EXPECT_EQ(Texts(d.CheckUsers()), (Names{u"admin", u"bob"}));
        EXPECT_TRUE(d.CheckUsers().GetCheck(0));
        EXPECT_TRUE(d.CheckUsers().GetCheck(1));
        ClickEntry(d.CheckUsers(), 1);
        ClickOk(d);
    });
    ClickButton(IDC_GROUP_PROPERTIES);
    EXPECT_EQ(MembersOf(u"Everyone"), Names{u"admin"});
    EXPECT_TRUE(GroupsOf(u"bob").empty());
    EXPECT_TRUE(StoredUser(u"bob").m_listGroups.empty());
    EXPECT_EQ(Core().m_mapGroups.at(u"Everyone")->m_listAccess, Names{u"00:1B:4D:00:00:01"});
    EXPECT_EQ(Texts(Tab().Users()), Names{u"admin"});
}

TEST_F(AccountTab, DeletingSelectedUsersAsksOnceAndTakesThemFromEveryGroup) {
    for (const char16_t* name : {u"u1", u"u2", u"u3", u"u4"}) {
        Send(CDirectoryMessage::AddUser(true, User(name, u"", {u"Administrator", u"Ops"})));
    }
    Send(CDirectoryMessage::AddGroup(true, Group(u"Ops", {u"u1", u"u2", u"u3", u"u4"})));
    SelectGroup(u"Administrator"); // admin u1 u2 u3 u4
    for (std::size_t row : {1u, 2u, 4u}) {
        ClickEntry(Tab().Users(), row);
    }
    m_answer = EMessageAnswer::No;
    ClickButton(IDC_USER_DELETE);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Core().m_mapUsers.size(), 5u);

    m_answer = EMessageAnswer::Yes;
    ClickButton(IDC_USER_DELETE);
    ASSERT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(Boxes()[1].text, u"Sure to delete?");
    EXPECT_EQ(Boxes()[1].icon, EMessageIcon::Question);
    EXPECT_EQ(Boxes()[1].buttons, EMessageButtons::YesNo);
    EXPECT_EQ(Texts(Tab().Users()), (Names{u"admin", u"u3"}));
    EXPECT_EQ(MembersOf(u"Ops"), Names{u"u3"});
    EXPECT_EQ(MembersOf(u"Administrator"), (Names{u"admin", u"u3"}));
    const CStoredValues users = ReadValues(m_window.RegistryFile(), kUserKey);
    EXPECT_EQ(users.size(), 2u);
    EXPECT_EQ(
        Decode<CGroupData>(ReadValues(m_window.RegistryFile(), kGroupKey).at(u"Ops")).m_listUsers,
        Names{u"u3"});
}

TEST_F(AccountTab, DeletingTheSelectedGroupLeavesNoneSelectedAndTheOtherListsAsTheyWere) {
    Send(CDirectoryMessage::AddUser(true, User(u"bob", u"")));
    Send(CDirectoryMessage::AddGroup(true, Group(u"Ops", {u"admin", u"bob"}, {u"00:1B:4D:0:9"})));
    SelectGroup(u"Ops");
    m_answer = EMessageAnswer::No;
    ClickButton(IDC_GROUP_DELETE);
    EXPECT_TRUE(Core().m_mapGroups.contains(u"Ops"));

    m_answer = EMessageAnswer::Yes;
    ClickButton(IDC_GROUP_DELETE);
    EXPECT_FALSE(Core().m_mapGroups.contains(u"Ops"));
    EXPECT_EQ(GroupsOf(u"bob"), Names{});
    EXPECT_EQ(Texts(Tab().Groups()), (Names{u"Administrator", u"Everyone"}));
    EXPECT_EQ(Tab().Groups().GetCurSel(), CListBox::npos);
    EXPECT_EQ(Texts(Tab().Users()), (Names{u"admin", u"bob"}));
    ASSERT_EQ(Tab().Access().GetItemCount(), 1u);
    EXPECT_EQ(Tab().Access().GetItemText(0, 1), u"00:1B:4D:0:9");
    // Commands that need a group do nothing now.
    EXPECT_EQ(ModalsOpenedBy([this] { ClickButton(IDC_GROUP_PROPERTIES); }), 0);
    EXPECT_EQ(ModalsOpenedBy([this] { ClickButton(IDC_GROUP_ACCESS); }), 0);
    ClickButton(IDC_GROUP_DELETE);
    EXPECT_EQ(Boxes().size(), 2u);
}

// Servers of every kind the access dialog has to sort out, filed directly in the table.
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
        AddServer("10.0.0.1", kSupported, "SAN", "Tarvik Networks", "Arvo", true);
        AddServer("10.0.0.2", kUnsupported, "SAN", "Elsewhere", "Arvo", false);
        AddServer("10.0.0.3", kNas, "NAS", "", "", false);
        AddServer("10.0.0.4", kUpper, "SAN", "Halvard", "Folan", false);
        Send(CDirectoryMessage::SetGroupAccess(
            true, Group(u"Administrator", {}, {kGone, kUnsupported, kSupported, kGone, kLower})));
        SelectGroup(u"Administrator");
    }
    void AddServer(const char* ip, const char16_t* mac, const char* type, const char* vendor,
                   const char* model, bool bAuthorized) {
        auto server = std::make_unique<CServerData>();
        server->SetIPAddr(ip);
        server->SetMAC(Utf16ToUtf8(mac));
        server->SetType(type);
        server->SetVendor(vendor);
        server->SetModel(model);
        server->SetSystemName(std::string("array-") + ip);
        server->SetProduct("P1");
        server->SetVersion("1.0");
        server->m_bAuthorized = bAuthorized ? 1 : 0;
        auto lock = Core().Guard()->LockExclusive();
        Core().m_mapServers.Add(mac, std::move(server));
    }
    static std::vector<Names> Rows(const CListCtrl& list) {
        std::vector<Names> rows(list.GetItemCount());
        for (std::size_t r = 0; r < rows.size(); ++r) {
            for (int c = 0; c < list.model()->columnCount(); ++c) {
                rows[r].push_back(list.GetItemText(r, static_cast<std::size_t>(c)));
            }
        }
        return rows;
    }
    Names Access() { return Core().m_mapGroups.at(u"Administrator")->m_listAccess; }
};

TEST_F(AccessTab, TheTabShowsListedServersThenOnePlaceholderPerUnmatchedEntry) {
    std::vector<Names> rows = Rows(Tab().Access());
    ASSERT_EQ(rows.size(), 4u);
    // The table's own order for servers; the placeholders after them, in access-list order.
    const std::set<Names> servers(rows.begin(), rows.begin() + 2);
    EXPECT_EQ(servers, (std::set<Names>{{u"10.0.0.1", kSupported, u"Yes"},
                                        {u"10.0.0.2", kUnsupported, u"No"}}));
    EXPECT_EQ(rows[2], (Names{u"--", kGone, u"--"}));
    EXPECT_EQ(rows[3], (Names{u"--", kLower, u"--"}));
}

TEST_F(AccessTab, TheDialogOffersSupportedServersAndChecksWhatTheGroupMayReach) {
    std::vector<Names> shown;
    std::vector<bool> checked;
    WhenModal<CGroupAccessDlg>([&](CGroupAccessDlg& d) {
        EXPECT_EQ(d.GetDlgItemText(IDC_ACCESS_GROUP_NAME), u"Administrator");
        EXPECT_FALSE(d.GetDlgItem(IDC_ACCESS_GROUP_NAME)->isEnabled());
        shown = Rows(d.Servers());
        for (std::size_t r = 0; r < shown.size(); ++r) {
            checked.push_back(d.Servers().GetCheck(r));
        }
        ClickOk(d);
    });
    ClickButton(IDC_GROUP_ACCESS);
    ASSERT_EQ(shown.size(), 6u);
    ASSERT_EQ(shown[0].size(), 6u);
    std::set<std::pair<Names, bool>> servers;
    for (std::size_t r = 0; r < 3; ++r) {
        servers.insert({shown[r], checked[r]});
    }
    EXPECT_EQ(servers,
              (std::set<std::pair<Names, bool>>{
                  {{u"10.0.0.1", u"array-10.0.0.1", u"P1", u"1.0", kSupported, u"Yes"}, true},
                  {{u"10.0.0.3", u"array-10.0.0.3", u"P1", u"1.0", kNas, u"No"}, false},
                  {{u"10.0.0.4", u"array-10.0.0.4", u"P1", u"1.0", kUpper, u"No"}, false}}));
    const Names placeholders[] = {{u"--", u"--", u"--", u"--", kGone, u"--"},
                                  {u"--", u"--", u"--", u"--", kUnsupported, u"--"},
                                  {u"--", u"--", u"--", u"--", kLower, u"--"}};
    for (std::size_t r = 3; r < 6; ++r) {
        EXPECT_EQ(shown[r], placeholders[r - 3]);
        EXPECT_TRUE(checked[r]);
    }
    // OK without changes: the checked rows in row order, the doubled entry once.
    EXPECT_EQ(Access(), (Names{kSupported, kGone, kUnsupported, kLower}));
    EXPECT_EQ(
        Decode<CGroupData>(ReadValues(m_window.RegistryFile(), kGroupKey).at(u"Administrator"))
            .m_listAccess,
        Access());
}

TEST_F(AccessTab, CheckingAndUncheckingRowsChangesTheAccessListAndCancelChangesNothing) {
    const auto rowOf = [](const CListCtrl& list, const char16_t* mac) {
        return list.FindItem(static_cast<std::size_t>(CGroupAccessDlg::EColumn::MAC), mac);
    };
    WhenModal<CGroupAccessDlg>([&](CGroupAccessDlg& d) {
        ToggleCheck(d.Servers(), rowOf(d.Servers(), kNas));
        ToggleCheck(d.Servers(), rowOf(d.Servers(), kGone));
        const bool before = d.Servers().GetCheck(0);
        ClickEntry(d.Servers(), 0, 1); // selecting a row leaves its check box alone
        EXPECT_EQ(d.Servers().GetCheck(0), before);
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    ClickButton(IDC_GROUP_ACCESS);
    EXPECT_EQ(Access(), (Names{kGone, kUnsupported, kSupported, kGone, kLower}));

    std::size_t nasRow = 0;
    WhenModal<CGroupAccessDlg>([&](CGroupAccessDlg& d) {
        nasRow = rowOf(d.Servers(), kNas);
        ToggleCheck(d.Servers(), nasRow);
        ToggleCheck(d.Servers(), rowOf(d.Servers(), kGone));
        ToggleCheck(d.Servers(), rowOf(d.Servers(), kSupported));
        ClickOk(d);
    });
    ClickButton(IDC_GROUP_ACCESS);
    EXPECT_EQ(Access(), (Names{kNas, kUnsupported, kLower}));
    const std::vector<Names> rows = Rows(Tab().Access());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(std::set<Names>(rows.begin(), rows.end()),
              (std::set<Names>{{u"10.0.0.3", kNas, u"No"},
                               {u"10.0.0.2", kUnsupported, u"No"},
                               {u"--", kLower, u"--"}}));

    // A group the table no longer has: headings only, and OK hands back nothing.
    WhenModal<CGroupAccessDlg>([&](CGroupAccessDlg& d) {
        EXPECT_EQ(d.Servers().GetItemCount(), 0u);
        EXPECT_EQ(d.Servers().model()->columnCount(), 6);
        ClickOk(d);
    });
    CGroupAccessDlg missing(Core(), &*m_window);
    missing.m_strGroupName = u"Nobody";
    EXPECT_EQ(missing.DoModal(), CDialog::IDOK);
    EXPECT_TRUE(missing.m_arrAccess.empty());
}

} // namespace
