// The System tab on its real list control: the server list view that discovery and the logins
// change, the Login button's state from mouse clicks, the Login Dialog's flow, Refresh, and the
// discovery timer.
#include "console/CLoginDlg.h"
#include "platform/ui/CListCtrl.h"
#include "resources/ResourceIds.h"
#include "tests/console/ConsoleTestSupport.h"

#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// The tab with its protected handlers in reach, and a timer that can be made to fail.
class CTestTabSystem : public CTabSystem {
public:
    using CTabSystem::CTabSystem;
    using CTabSystem::OnTimer;
    bool m_bTimerFails = false;
    bool SetTimer(int id, int ms) override {
        return !m_bTimerFails && CTabSystem::SetTimer(id, ms);
    }
};

// One Login press as the login hook receives it: "MAC|IP" per server.
struct CPress {
    std::vector<std::u16string> servers;
    std::u16string user, password;
};

decltype(CSystemTabHooks::login) Recorder(std::vector<CPress>& presses) {
    return [&presses](std::vector<CLoginTarget> targets, std::u16string user,
                      std::u16string password) {
        CPress press{{}, std::move(user), std::move(password)};
        for (const CLoginTarget& target : targets) {
            press.servers.push_back(target.strMAC + u"|" + target.strIP);
        }
        presses.push_back(std::move(press));
    };
}

class SystemTab : public ::testing::Test {
protected:
    // Creates the tab inside a window of its own, with the hooks given.
    CTestTabSystem& Make(CSystemTabHooks hooks = {}, bool bTimerFails = false) {
        m_boxes.SetAnswerer([this](const CMessageBoxRequest& r) {
            m_seen.push_back(r);
            return std::optional(EMessageAnswer::Ok);
        });
        m_tab = std::make_unique<CTestTabSystem>(m_boxes);
        m_tab->m_bTimerFails = bTimerFails;
        m_tab->SetHooks(std::move(hooks));
        m_tab->Create(m_parent);
        m_parent.resize(800, 400);
        m_parent.show();
        return *m_tab;
    }
    std::size_t Add(const std::u16string& ip, const std::u16string& mac) {
        const std::size_t row = m_tab->AppendRow(ip);
        m_tab->SetCellText(row, EServerColumn::MAC, mac);
        m_tab->SetCellText(row, EServerColumn::Auth, u"No");
        return row;
    }
    void Click(std::size_t row, Qt::KeyboardModifiers modifiers = {}) {
        CListCtrl& list = m_tab->List();
        const QRect r = list.visualRect(list.model()->index(static_cast<int>(row), 1));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, modifiers, r.center());
    }

    QWidget m_parent;
    CQtWindowThread m_window;
    CQtMessageBoxes m_boxes{m_window.Queue()};
    std::vector<CMessageBoxRequest> m_seen;
    std::unique_ptr<CTestTabSystem> m_tab;
};

TEST_F(SystemTab, TheListHasItsSixColumnsAndStartsDiscoveryWithTheTimer) {
    int passes = 0;
    CTestTabSystem& tab = Make({.startFirstPass = [&] { ++passes; }});
    EXPECT_EQ(passes, 1);
    const CListCtrl& list = tab.List();
    const char* headings[] = {"IP address",    "System name", "Product",
                              "Firmware ver.", "MAC address", "Auth"};
    // The design widths 100, 120, 110, 90, 120 and 50 in pixels of DejaVu Sans 8 pt.
    const int widths[] = {117, 140, 128, 105, 140, 58};
    const bool centred[] = {true, false, false, true, true, true};
    ASSERT_EQ(list.model()->columnCount(), 6);
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(list.model()->headerData(c, Qt::Horizontal).toString(), headings[c]);
        EXPECT_EQ(list.columnWidth(c), widths[c]);
        EXPECT_EQ(list.model()
                      ->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole)
                      .value<Qt::Alignment>()
                      .testFlag(Qt::AlignHCenter),
                  centred[c]);
    }
    EXPECT_TRUE(list.showGrid());
    EXPECT_EQ(list.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list.selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_TRUE(tab.IsTimerSet(CTabSystem::kDiscoveryTimerId));
    EXPECT_TRUE(tab.IsRefreshEnabled());
    EXPECT_TRUE(tab.IsLoginEnabled());
    EXPECT_TRUE(m_seen.empty());
    tab.DestroyWindow();
    EXPECT_FALSE(tab.IsTimerSet(CTabSystem::kDiscoveryTimerId));
}

TEST_F(SystemTab, ATimerThatCannotBeSetIsReportedAndTheTabStaysUsable) {
    int refreshes = 0;
    CTestTabSystem& tab = Make({.onRefresh = [&] { ++refreshes; }}, true);
    ASSERT_EQ(m_seen.size(), 1u);
    EXPECT_EQ(m_seen[0].text, u"SetTimer failed");
    EXPECT_EQ(m_seen[0].icon, EMessageIcon::Error);
    EXPECT_EQ(m_seen[0].caption, u"OrvaneSrv");
    QTest::mouseClick(tab.GetDlgItem(IDC_REFRESH), Qt::LeftButton);
    EXPECT_EQ(refreshes, 1);
}

TEST_F(SystemTab, RefreshDisablesItsButtonBeforeThePassAndTheTimerTicksReachDiscovery) {
    bool enabledDuringHook = true;
    int ticks = 0;
    int refreshes = 0;
    CTestTabSystem& tab = Make({.onTimer = [&] { ++ticks; },
                                .onRefresh =
                                    [&] {
                                        ++refreshes;
                                        enabledDuringHook =
                                            m_tab->GetDlgItem(IDC_REFRESH)->isEnabled();
                                    }});
    QWidget* refresh = tab.GetDlgItem(IDC_REFRESH);
    QTest::mouseClick(refresh, Qt::LeftButton);
    EXPECT_FALSE(enabledDuringHook);
    // A click while the pass runs starts no second one; after its end, one does.
    QTest::mouseClick(refresh, Qt::LeftButton);
    EXPECT_EQ(refreshes, 1);
    tab.EnableRefresh(true); // what the end of the pass does
    QTest::mouseClick(refresh, Qt::LeftButton);
    EXPECT_EQ(refreshes, 2);
    tab.OnTimer(CTabSystem::kDiscoveryTimerId);
    tab.OnTimer(7); // any timer of the tab
    EXPECT_EQ(ticks, 2);
}

TEST_F(SystemTab, TheServerListViewFindsAppendsDeletesAndSelectsOnTheRealList) {
    CTestTabSystem& tab = Make();
    IServerListView& view = tab;
    EXPECT_EQ(view.FindRow(EServerColumn::MAC, u"a"), IServerListView::npos);
    const std::size_t first = Add(u"10.0.0.1", u"00:AA");
    view.SelectAndFocus(first);
    Add(u"10.0.0.10", u"00:BB");
    Add(u"10.0.0.100", u"");
    EXPECT_EQ(view.RowCount(), 3u);
    EXPECT_EQ(tab.List().GetSelectedRows(), std::vector<std::size_t>{0});
    EXPECT_EQ(tab.List().GetFocusRow(), 0u);
    // Whole and exact: an address that begins another one finds only its own row.
    EXPECT_EQ(view.FindRow(EServerColumn::IPAddr, u"10.0.0.10"), 1u);
    EXPECT_EQ(view.FindRow(EServerColumn::MAC, u""), 2u);
    EXPECT_EQ(view.FindRow(EServerColumn::MAC, u"00:aa"), IServerListView::npos);
    view.SetCellText(1, EServerColumn::MAC, u"00:CC");
    EXPECT_EQ(view.FindRow(EServerColumn::MAC, u"00:BB"), IServerListView::npos);
    EXPECT_EQ(view.CellText(1, EServerColumn::MAC), u"00:CC");
    const std::size_t gone[] = {0, 2};
    view.DeleteRows(gone);
    EXPECT_EQ(view.RowCount(), 1u);
    EXPECT_EQ(view.FindRow(EServerColumn::IPAddr, u"10.0.0.10"), 0u);
    EXPECT_EQ(view.FindRow(EServerColumn::MAC, u"00:AA"), IServerListView::npos);
}

TEST_F(SystemTab, TenThousandServersStayUsable) {
    CTestTabSystem& tab = Make();
    IServerListView& view = tab;
    constexpr std::size_t kServers = 10000;
    for (std::size_t i = 0; i < kServers; ++i) {
        const std::u16string n = QString::number(i).toStdU16String();
        Add(u"10.1." + n, u"mac-" + n);
    }
    view.SelectAndFocus(0);
    EXPECT_EQ(view.FindRow(EServerColumn::MAC, u"mac-9999"), 9999u);
    EXPECT_EQ(view.FindRow(EServerColumn::IPAddr, u"10.1.5000"), 5000u);
    std::vector<std::size_t> sweep;
    for (std::size_t i = 1; i < kServers; i += 3) {
        sweep.push_back(i);
    }
    view.DeleteRows(sweep);
    EXPECT_EQ(view.RowCount(), kServers - sweep.size());
    EXPECT_EQ(view.FindRow(EServerColumn::MAC, u"mac-9999"), view.RowCount() - 1);
    EXPECT_EQ(tab.List().GetSelectedRows(), std::vector<std::size_t>{0});
    Click(3);
    EXPECT_EQ(tab.List().GetSelectedRows().size(), 1u);
}

TEST_F(SystemTab, TheFirstSelectedRowWithARecordDecidesTheLoginButtonOnMouseClicksOnly) {
    // "00:AA" has no record; "00:BB" is supported, "00:CC" is not.
    CTestTabSystem& tab = Make({.isLoginEnabled = [](std::span<const std::u16string> macs) {
        for (const std::u16string& mac : macs) {
            if (mac == u"00:BB" || mac == u"00:CC") {
                return mac == u"00:BB";
            }
        }
        return false;
    }});
    Add(u"10.0.0.1", u"00:AA");
    Add(u"10.0.0.2", u"00:CC");
    Add(u"10.0.0.3", u"00:BB");
    Click(2);
    EXPECT_TRUE(tab.IsLoginEnabled());
    Click(1, Qt::ControlModifier); // rows 1 and 2: row 1 decides
    EXPECT_FALSE(tab.IsLoginEnabled());
    Click(0);
    EXPECT_FALSE(tab.IsLoginEnabled()); // no record: nothing decides
    Click(2, Qt::ControlModifier);      // rows 0 and 2: row 2 is the first with a record
    EXPECT_TRUE(tab.IsLoginEnabled());
    // The keyboard moves the selection but not the button.
    tab.List().setFocus();
    QTest::keyClick(&tab.List(), Qt::Key_Up);
    EXPECT_TRUE(tab.IsLoginEnabled());
    // A click on the empty part clears the selection and disables the button.
    QTest::mouseClick(tab.List().viewport(), Qt::LeftButton, {},
                      QPoint(5, tab.List().viewport()->height() - 5));
    EXPECT_TRUE(tab.List().GetSelectedRows().empty());
    EXPECT_FALSE(tab.IsLoginEnabled());
}

TEST_F(SystemTab, LoginAsksForCredentialsThenLogsInToEverySelectedRow) {
    std::vector<CPress> calls;
    CTestTabSystem& tab = Make({.login = Recorder(calls)});
    Add(u"10.0.0.1", u"00:AA");
    Add(u"10.0.0.2", u"00:BB");
    Add(u"10.0.0.3", u"00:CC");
    tab.List().SetSelected(0, true);
    tab.List().SetSelected(2, true);

    // Cancel: no request and no cell changes.
    WhenModal<CLoginDlg>([](CLoginDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); });
    QTest::mouseClick(tab.GetDlgItem(IDC_LOGIN), Qt::LeftButton);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(tab.CellText(0, EServerColumn::Auth), u"No");

    QString shownUser;
    QLineEdit::EchoMode echo = QLineEdit::Normal;
    WhenModal<CLoginDlg>([&](CLoginDlg& d) {
        auto* user = qobject_cast<QLineEdit*>(d.GetDlgItem(IDC_ADMIN_USER));
        auto* password = qobject_cast<QLineEdit*>(d.GetDlgItem(IDC_ADMIN_PASSWORD));
        shownUser = user->text();
        echo = password->echoMode();
        password->setText(QStringLiteral("s3cret"));
        QTest::keyClick(password, Qt::Key_Return); // Enter: the default OK button
    });
    QTest::mouseClick(tab.GetDlgItem(IDC_LOGIN), Qt::LeftButton);
    EXPECT_EQ(shownUser, "admin");
    EXPECT_EQ(echo, QLineEdit::Password);
    ASSERT_EQ(calls.size(), 1u); // one press, both rows
    EXPECT_EQ(calls[0].servers,
              (std::vector<std::u16string>{u"00:AA|10.0.0.1", u"00:CC|10.0.0.3"}));
    EXPECT_EQ(calls[0].user, u"admin");
    EXPECT_EQ(calls[0].password, u"s3cret");
    EXPECT_EQ(tab.CellText(0, EServerColumn::Auth), u"Logging");
    EXPECT_EQ(tab.CellText(1, EServerColumn::Auth), u"No");
    EXPECT_EQ(tab.CellText(2, EServerColumn::Auth), u"Logging");

    // The next opening remembers nothing.
    QString password;
    WhenModal<CLoginDlg>([&](CLoginDlg& d) {
        password = QString::fromStdU16String(d.GetDlgItemText(IDC_ADMIN_PASSWORD));
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    QTest::mouseClick(tab.GetDlgItem(IDC_LOGIN), Qt::LeftButton);
    EXPECT_TRUE(password.isEmpty());
}

TEST_F(SystemTab, LoginGoesOnlyToRowsThatKeptTheirMacAndAddressWhileTheDialogWasOpen) {
    std::vector<CPress> calls;
    CTestTabSystem& tab = Make({.login = Recorder(calls)});
    Add(u"10.0.0.1", u"00:AA"); // stays
    Add(u"10.0.0.2", u"00:BB"); // a sighting moves it
    Add(u"10.0.0.3", u"00:CC"); // swept
    Add(u"10.0.0.4", u"");      // no record, stays
    Add(u"10.0.0.5", u"00:EE"); // not chosen, selected meanwhile
    for (std::size_t row : {0, 1, 2, 3}) {
        tab.List().SetSelected(row, true);
    }
    WhenModal<CLoginDlg>([&tab](CLoginDlg& d) {
        // What discovery does while the operator types.
        tab.SetCellText(1, EServerColumn::IPAddr, u"10.0.0.66");
        const std::size_t swept[] = {2};
        tab.DeleteRows(swept);
        tab.SelectAndFocus(tab.FindRow(EServerColumn::MAC, u"00:EE"));
        QTest::keyClick(d.GetDlgItem(IDC_ADMIN_PASSWORD), Qt::Key_Return);
    });
    ::testing::internal::CaptureStderr();
    QTest::mouseClick(tab.GetDlgItem(IDC_LOGIN), Qt::LeftButton);
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].servers, (std::vector<std::u16string>{u"00:AA|10.0.0.1", u"|10.0.0.4"}));
    const char16_t* auth[] = {u"Logging", u"No", u"Logging", u"No"}; // rows 0, 1, 3, 4 now
    for (std::size_t row = 0; row < 4; ++row) {
        EXPECT_EQ(tab.CellText(row, EServerColumn::Auth), auth[row]) << row;
    }
    for (const char* skipped : {"10.0.0.2 (00:BB)", "10.0.0.3 (00:CC)"}) {
        EXPECT_NE(err.find(std::string("OrvaneSrv: no login to ") + skipped), std::string::npos)
            << err;
    }
    EXPECT_EQ(err.find("10.0.0.5"), std::string::npos) << err;
}

} // namespace
