// The System tab on its real list control: the server list view that discovery and the logins
// change, the Login button's state and tip after every kind of selection change, the Login
// Dialog's flow, the server menu, sorting and the filter, Refresh, and the discovery timer.
#include "console/CLoginDlg.h"
#include "control/CLoginPress.h"
#include "control/LoginWords.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CListCtrl.h"
#include "resources/ResourceIds.h"
#include "tests/console/ConsoleTestSupport.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolTip>
#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <thread>

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

// One Login press as the login hook receives it: "MAC|IP" per server, "IP: reason" per skipped
// one.
struct CPress {
    std::vector<std::u16string> servers;
    std::u16string user, password;
    std::vector<std::u16string> skipped;
};

decltype(CSystemTabHooks::login) Recorder(std::vector<CPress>& presses) {
    return [&presses](std::vector<CLoginTarget> targets, std::vector<CLoginSkipped> skipped,
                      std::u16string user, std::u16string password) {
        CPress press{{}, std::move(user), std::move(password), {}};
        for (const CLoginTarget& target : targets) {
            press.servers.push_back(target.strMAC + u"|" + target.strIP);
        }
        for (const CLoginSkipped& skip : skipped) {
            press.skipped.push_back(skip.strIP + u": " + LoginSkipWords(skip.eReason));
        }
        presses.push_back(std::move(press));
    };
}

// Arrays with a record, and which of them are supported, known and bound to their address.
struct CRecords {
    std::set<std::u16string> recorded{u"00:BB", u"00:CC", u"00:DD"};
    std::set<std::u16string> supported{u"00:BB", u"00:DD"};
    CSystemTabHooks Hooks(decltype(CSystemTabHooks::login) login = {}) {
        return {.login = std::move(login),
                .loginCandidates = [this](std::span<const std::u16string> macs) {
                    std::vector<std::optional<CLoginCandidate>> arrays;
                    for (const std::u16string& mac : macs) {
                        CLoginCandidate array;
                        array.strMAC = mac;
                        array.bSupported = supported.contains(mac);
                        array.bKnown = true;
                        arrays.push_back(recorded.contains(mac) ? std::optional(array)
                                                                : std::nullopt);
                    }
                    return arrays;
                }};
    }
};

class SystemTab : public ::testing::Test {
protected:
    // Creates the tab inside a window of its own, with the hooks given.
    CTestTabSystem& Make(CSystemTabHooks hooks = {}, bool bTimerFails = false) {
        m_boxes.SetAnswerer([this](const CMessageBoxRequest& r) {
            m_seen.push_back(r);
            return std::optional(r.buttons == EMessageButtons::YesNo ? m_question
                                                                     : EMessageAnswer::Ok);
        });
        m_tab = std::make_unique<CTestTabSystem>(m_boxes);
        m_tab->m_bTimerFails = bTimerFails;
        m_tab->SetHooks(std::move(hooks));
        m_tab->SetViewFile(m_viewFile);
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
        const QRect r = list.visualRect(list.model()->index(ViewPlace(list, row), 1));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, modifiers, r.center());
    }
    // As the window system reports it: the press, the request for a context menu, the release.
    void RightClick(QPoint at) {
        QWidget* viewport = m_tab->List().viewport();
        QTest::mousePress(viewport, Qt::RightButton, {}, at);
        QContextMenuEvent request(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
        QApplication::sendEvent(viewport, &request);
        QTest::mouseRelease(viewport, Qt::RightButton, {}, at);
    }
    void RightClick(std::size_t row) {
        CListCtrl& list = m_tab->List();
        RightClick(list.visualRect(list.model()->index(ViewPlace(list, row), 1)).center());
    }
    std::string LoginTip() const { return m_tab->GetDlgItem(IDC_LOGIN)->toolTip().toStdString(); }
    // The IP address column as the view shows it, top first.
    std::vector<std::string> Shown() const {
        std::vector<std::string> ips;
        for (std::size_t place = 0; place < m_tab->List().GetShownCount(); ++place) {
            ips.push_back(Utf16ToUtf8(
                m_tab->CellText(m_tab->List().RowAtViewPlace(place), EServerColumn::IPAddr)));
        }
        return ips;
    }

    QWidget m_parent;
    CQtWindowThread m_window;
    CQtMessageBoxes m_boxes{m_window.Queue()};
    std::vector<CMessageBoxRequest> m_seen;
    EMessageAnswer m_question = EMessageAnswer::No; // the operator's answer to a question
    std::unique_ptr<CTestTabSystem> m_tab;
    CTempDir m_folder;
    std::filesystem::path m_viewFile; // none: nothing kept
};

TEST_F(SystemTab, TheListHasItsSixColumnsAndStartsDiscoveryWithTheTimer) {
    int passes = 0;
    CTestTabSystem& tab = Make({.startFirstPass = [&] { ++passes; }});
    EXPECT_EQ(passes, 1);
    const CListCtrl& list = tab.List();
    const char* headings[] = {"IP address",  "System name", "Product", "Firmware ver.",
                              "MAC address", "Auth",        "Vendor",  "Type",
                              "Last seen",   "Model"};
    // The design widths in pixels of DejaVu Sans 8 pt; the system name's is its least, as it
    // takes the room the others leave.
    const int widths[] = {117, 140, 128, 105, 140, 58};
    const bool centred[] = {true, false, false, true, true, true, false, true, true, false};
    ASSERT_EQ(list.model()->columnCount(), CTabSystem::kListColumnCount);
    int shownWidth = 0;
    for (int c = 0; c < CTabSystem::kListColumnCount; ++c) {
        EXPECT_EQ(list.model()->headerData(c, Qt::Horizontal).toString(), headings[c]);
        EXPECT_EQ(list.isColumnHidden(c), c >= 6) << c; // the optional ones and the model
        if (c == static_cast<int>(EServerColumn::SystemName)) {
            EXPECT_GE(list.columnWidth(c), widths[c]);
        } else if (!list.isColumnHidden(c)) {
            EXPECT_EQ(list.columnWidth(c), widths[c]) << c;
        }
        shownWidth += list.columnWidth(c); // none for a hidden one
        EXPECT_EQ(list.model()
                      ->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole)
                      .value<Qt::Alignment>()
                      .testFlag(Qt::AlignHCenter),
                  centred[c]);
    }
    EXPECT_EQ(shownWidth, list.viewport()->width());
    EXPECT_TRUE(list.showGrid());
    EXPECT_EQ(list.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list.selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_TRUE(tab.IsTimerSet(CTabSystem::kDiscoveryTimerId));
    EXPECT_TRUE(tab.IsRefreshEnabled());
    EXPECT_FALSE(tab.IsLoginEnabled()); // nothing selected yet
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

TEST_F(SystemTab, LoginFollowsEverySelectionChangeAndItsTipSaysWhyItIsGreyed) {
    CRecords records;
    CTestTabSystem& tab = Make(records.Hooks());
    Add(u"10.0.0.1", u"00:AA"); // no record
    Add(u"10.0.0.2", u"00:CC"); // not supported
    tab.SetCellText(1, EServerColumn::Product, u"Other box");
    Add(u"10.0.0.3", u"00:BB");
    Add(u"10.0.0.4", u"00:DD");
    CListCtrl& list = tab.List();
    const std::string ready = "Log in to the selected arrays";
    const std::string none = "Select one or more supported arrays to log in";
    const std::string other = "The array at 10.0.0.2 (Other box) does not support a login";
    const std::string noRecord = "The array at 10.0.0.1 (00:AA) does not support a login";
    auto some = [](int n, int of) {
        return "Log in to " + std::to_string(n) + " of the " + std::to_string(of) +
               " selected arrays; the others do not take a login and are skipped";
    };
    // Any selected row that takes a login enables the button.
    const std::pair<std::function<void()>, std::string> steps[] = {
        {[&] { Click(2); }, ready},
        {[&] { Click(1, Qt::ControlModifier); }, some(1, 2)},
        {[&] { QTest::keyClick(&list, Qt::Key_Up); }, noRecord},
        {[&] { QTest::keyClick(&list, Qt::Key_Down); }, other},
        {[&] { QTest::keyClick(&list, Qt::Key_Down, Qt::ShiftModifier); }, some(1, 2)},
        {[&] {
             list.clearSelection();
             tab.SelectAndFocus(1); // as discovery does
         },
         other},
        {[&] {
             WhenPopup([](QMenu& menu) { menu.close(); });
             RightClick(3);
         },
         ready},
        {[&] { QTest::keyClick(&list, Qt::Key_A, Qt::ControlModifier); }, some(2, 4)},
        {[&] { QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(5, 200)); }, none},
    };
    list.setFocus();
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        steps[i].first();
        EXPECT_EQ(tab.IsLoginEnabled(),
                  steps[i].second == ready || steps[i].second.starts_with("Log in to "))
            << "step " << i;
        EXPECT_EQ(LoginTip(), steps[i].second) << "step " << i;
    }
    // The selected array's record changes under the selection: the button follows.
    Click(1);
    ASSERT_FALSE(tab.IsLoginEnabled());
    records.supported.insert(u"00:CC");
    tab.SetCellText(1, EServerColumn::Version, u"2.0");
    EXPECT_TRUE(QTest::qWaitFor([&] { return tab.IsLoginEnabled(); }));
}

TEST_F(SystemTab, LoginAsksForCredentialsThenLogsInToEverySelectedRow) {
    std::vector<CPress> calls;
    CRecords records;
    records.recorded = records.supported = {u"00:AA", u"00:BB", u"00:CC"};
    CTestTabSystem& tab = Make(records.Hooks(Recorder(calls)));
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

TEST_F(SystemTab, LoginGoesOnlyToSupportedRowsThatKeptTheirMacAndAddressWhileTheDialogWasOpen) {
    std::vector<CPress> calls;
    CRecords records;
    records.recorded = {u"00:AA", u"00:BB", u"00:CC", u"00:EE", u"00:FF", u"00:GG"};
    records.supported = {u"00:AA", u"00:BB", u"00:CC", u"00:EE", u"00:GG"};
    CTestTabSystem& tab = Make(records.Hooks(Recorder(calls)));
    Add(u"10.0.0.1", u"00:AA"); // stays
    Add(u"10.0.0.2", u"00:BB"); // a sighting moves it
    Add(u"10.0.0.3", u"00:CC"); // swept
    Add(u"10.0.0.4", u"");      // no record: never logged in to
    Add(u"10.0.0.5", u"00:EE"); // not chosen, selected meanwhile
    Add(u"10.0.0.6", u"00:FF"); // not supported
    Add(u"10.0.0.7", u"00:GG"); // its record stops being supported meanwhile
    for (std::size_t row : {0, 1, 2, 3, 5, 6}) {
        tab.List().SetSelected(row, true);
    }
    ASSERT_TRUE(tab.IsLoginEnabled());
    WhenModal<CLoginDlg>([&](CLoginDlg& d) {
        // What discovery does while the operator types.
        tab.SetCellText(1, EServerColumn::IPAddr, u"10.0.0.66");
        const std::size_t swept[] = {2};
        tab.DeleteRows(swept);
        tab.SelectAndFocus(tab.FindRow(EServerColumn::MAC, u"00:EE"));
        records.supported.erase(u"00:GG");
        QTest::keyClick(d.GetDlgItem(IDC_ADMIN_PASSWORD), Qt::Key_Return);
    });
    ::testing::internal::CaptureStderr();
    QTest::mouseClick(tab.GetDlgItem(IDC_LOGIN), Qt::LeftButton);
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].servers, (std::vector<std::u16string>{u"00:AA|10.0.0.1"}));
    const char16_t* auth[] = {u"Logging", u"No", u"No", u"No", u"No", u"No"}; // row 2 went
    for (std::size_t row = 0; row < 6; ++row) {
        EXPECT_EQ(tab.CellText(row, EServerColumn::Auth), auth[row]) << row;
    }
    for (const char* skipped : {"10.0.0.2 (00:BB)", "10.0.0.3 (00:CC)"}) {
        EXPECT_NE(err.find(std::string("OrvaneSrv: no login to ") + skipped), std::string::npos)
            << err;
    }
    EXPECT_EQ(err.find("10.0.0.5"), std::string::npos) << err;
    // The press's box tells of them all; the tab shows none of its own.
    const std::u16string changed = u"its row changed while the Login Dialog was open";
    EXPECT_EQ(calls[0].skipped,
              (std::vector<std::u16string>{u"10.0.0.4: announces no MAC address",
                                           u"10.0.0.6: does not support a login",
                                           u"10.0.0.2: " + changed, u"10.0.0.3: " + changed,
                                           u"10.0.0.7: does not support a login"}));
    EXPECT_TRUE(m_seen.empty());

    // Nothing that takes a login selected: no dialog at all, only the box.
    tab.List().clearSelection();
    tab.List().SetSelected(4, true);
    tab.OnLogin();
    EXPECT_EQ(calls.size(), 1u);
    ASSERT_EQ(m_seen.size(), 1u);
    EXPECT_EQ(m_seen[0].text, u"No login was sent (IP address: reason):\n"
                              u"10.0.0.6: does not support a login");
}

// A multi-row Login leaves out arrays that another address announces too and asks before it
// sends the password to new arrays; a single "moved?" array is logged in to at its new address
// only when the operator says yes to both addresses.
TEST_F(SystemTab, LoginAsksBeforeNewArraysAndMovesAnArrayOnlyWhenConfirmed) {
    std::vector<CPress> calls;
    CRecords records;
    records.recorded = records.supported = {u"00:KK", u"00:NN", u"00:CC", u"00:MM"};
    CSystemTabHooks hooks = records.Hooks(Recorder(calls));
    hooks.loginCandidates = [](std::span<const std::u16string> macs) {
        std::vector<std::optional<CLoginCandidate>> arrays;
        for (const std::u16string& mac : macs) {
            CLoginCandidate array{mac, u"10.0.0.1", u"name\x1b]0;x", u"P", true, mac != u"00:NN"};
            array.eState = mac == u"00:CC"   ? EAddressState::Conflict
                           : mac == u"00:MM" ? EAddressState::Moved
                                             : EAddressState::Bound;
            array.strLatestClaim = u"10.0.0.99";
            arrays.push_back(array);
        }
        return arrays;
    };
    CTestTabSystem& tab = Make(std::move(hooks));
    for (const char16_t* mac : {u"00:KK", u"00:NN", u"00:CC", u"00:MM"}) {
        Add(u"10.0.0.1", mac);
    }
    const struct {
        std::vector<std::size_t> rows;
        EMessageAnswer answer;
        std::vector<std::u16string> sent;  // empty: no Login Dialog
        std::vector<std::u16string> boxes; // the start of each box's text
    } cases[] = {
        {{0, 1, 2},
         EMessageAnswer::No,
         {u"00:KK|10.0.0.1"},
         {u"No one has logged in to these arrays before"}}, // 00:CC: skipped, in the press's box
        {{0, 1},
         EMessageAnswer::Yes,
         {u"00:KK|10.0.0.1", u"00:NN|10.0.0.1"},
         {u"No one has logged in to these arrays before"}},
        {{3},
         EMessageAnswer::No,
         {},
         {u"The array 00:MM no longer answers at 10.0.0.1, and "
          u"10.0.0.99 announces its MAC address now."}},
        {{3}, EMessageAnswer::Yes, {u"00:MM|10.0.0.99"}, {u"The array 00:MM"}},
        {{2}, EMessageAnswer::No, {u"00:CC|10.0.0.1"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rows.size() * 10 + c.rows[0]);
        calls.clear();
        m_seen.clear();
        m_question = c.answer;
        tab.List().clearSelection();
        for (const std::size_t row : c.rows) {
            tab.List().SetSelected(row, true);
        }
        if (!c.sent.empty()) {
            WhenModal<CLoginDlg>([](CLoginDlg& d) {
                QTest::keyClick(d.GetDlgItem(IDC_ADMIN_PASSWORD), Qt::Key_Return);
            });
        }
        tab.OnLogin();
        EXPECT_EQ(calls.empty() ? std::vector<std::u16string>() : calls[0].servers, c.sent);
        ASSERT_EQ(m_seen.size(), c.boxes.size());
        for (std::size_t i = 0; i < c.boxes.size(); ++i) {
            EXPECT_TRUE(m_seen[i].text.starts_with(c.boxes[i])) << Utf16ToUtf8(m_seen[i].text);
        }
        // The question lists the new array's address, MAC, name (its escape shown, not obeyed)
        // and product.
        if (!m_seen.empty() && m_seen.back().text.starts_with(u"No one has logged in")) {
            EXPECT_TRUE(m_seen.back().text.ends_with(u"\n10.0.0.1  00:NN  name\\x1B]0;x  P"));
        }
    }
}

TEST_F(SystemTab, TheServerMenuOpensOnARowByMouseOrMenuKeyAndCopiesTheSelectedAddresses) {
    CRecords records;
    CTestTabSystem& tab = Make(records.Hooks());
    Add(u"10.0.0.2", u"00:CC");
    Add(u"10.0.0.3", u"00:BB");
    CListCtrl& list = tab.List();
    const std::tuple<std::function<void()>, int, QString, bool> cases[] = {
        {[&] { RightClick(1); }, 1, "10.0.0.3", true}, // 1: Copy IP address, 2: Copy MAC address
        {[&] { QTest::keyClick(&list, Qt::Key_Menu); }, 2, "00:BB", true},
        {[&] {
             list.SetSelected(0, true);
             QTest::keyClick(&list, Qt::Key_F10, Qt::ShiftModifier);
         },
         1, "10.0.0.2\n10.0.0.3", true},
    };
    list.setFocus();
    for (const auto& [open, action, copied, bLogin] : cases) {
        QStringList items;
        WhenPopup([&](QMenu& menu) {
            for (const QAction* item : menu.actions()) {
                items.push_back(item->text() + (item->isEnabled() ? "" : " (greyed)"));
            }
            menu.actions()[action]->trigger();
            menu.close();
        });
        open();
        EXPECT_EQ(items, QStringList({bLogin ? "&Login..." : "&Login... (greyed)",
                                      "Copy &IP address", "Copy &MAC address"}));
        EXPECT_EQ(QApplication::clipboard()->text(), copied);
    }
    RightClick(list.viewport()->rect().bottomLeft() + QPoint(5, -5)); // the empty part: no menu
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST_F(SystemTab, HeadingsSortAddressesByNumberAndTheOrderAndFilterHoldForNewRows) {
    CTestTabSystem& tab = Make();
    for (const auto& [ip, name] : {std::pair{u"10.0.0.10", u"beta"},
                                   {u"10.0.0.9", u"Alpha"},
                                   {u"192.168.1.2", u"gamma"},
                                   {u"10.0.0.100", u"alpha two"}}) {
        tab.SetCellText(Add(ip, u""), EServerColumn::SystemName, name);
    }
    QHeaderView& headings = *tab.List().horizontalHeader();
    auto sortBy = [&headings](EServerColumn col) {
        const int x = headings.sectionViewportPosition(static_cast<int>(col)) + 5;
        QTest::mouseClick(headings.viewport(), Qt::LeftButton, {}, QPoint(x, 5));
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(Shown(), (V{"10.0.0.9", "10.0.0.10", "10.0.0.100", "192.168.1.2"})); // at first
    sortBy(EServerColumn::IPAddr);
    EXPECT_EQ(Shown(), (V{"192.168.1.2", "10.0.0.100", "10.0.0.10", "10.0.0.9"}));
    sortBy(EServerColumn::IPAddr);
    EXPECT_EQ(Shown(), (V{"10.0.0.9", "10.0.0.10", "10.0.0.100", "192.168.1.2"}));
    sortBy(EServerColumn::SystemName); // text, any case
    EXPECT_EQ(Shown(), (V{"10.0.0.9", "10.0.0.100", "10.0.0.10", "192.168.1.2"}));
    // A later pass: a new row and a renamed one take their places; the rows keep their indexes.
    tab.SetCellText(Add(u"10.0.0.1", u""), EServerColumn::SystemName, u"delta");
    tab.SetCellText(2, EServerColumn::SystemName, u"aardvark");
    EXPECT_EQ(Shown(), (V{"192.168.1.2", "10.0.0.9", "10.0.0.100", "10.0.0.10", "10.0.0.1"}));
    EXPECT_EQ(tab.FindRow(EServerColumn::IPAddr, u"10.0.0.1"), 4u);
    // The filter narrows by any column, any case, and the selection is of the rows meant.
    QTest::keyClicks(tab.GetDlgItem(IDC_SERVER_FILTER), "ALPHA");
    EXPECT_EQ(Shown(), (V{"10.0.0.9", "10.0.0.100"}));
    QTest::keyClick(&tab.List(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(tab.List().GetSelectedRows(), (std::vector<std::size_t>{1, 3}));
}

// The headings' menu: its items as "text" or "text*" when checked, and the one toggled.
QStringList ToggleColumn(CTabSystem& tab, int item) {
    QStringList items;
    WhenPopup([&items, item](QMenu& menu) {
        for (const QAction* action : menu.actions()) {
            items.push_back(action->text() + (action->isChecked() ? "*" : ""));
        }
        menu.actions()[item]->trigger();
        menu.close();
    });
    QWidget* headings = tab.List().horizontalHeader()->viewport();
    const QPoint at(5, 5);
    QContextMenuEvent request(QContextMenuEvent::Mouse, at, headings->mapToGlobal(at));
    QApplication::sendEvent(headings, &request);
    return items;
}

TEST_F(SystemTab, TheSortAndTheColumnsChosenOnTheHeadingsAreKeptForTheNextWindow) {
    m_viewFile = m_folder / "system-list";
    constexpr int kLastSeen = static_cast<int>(CTabSystem::EDetailColumn::LastSeen);
    EXPECT_EQ(ToggleColumn(Make(), 2), (QStringList{"Vendor", "Type", "Last seen"}));
    QHeaderView* headings = m_tab->List().horizontalHeader();
    QTest::mouseClick(headings->viewport(), Qt::LeftButton, {}, {5, 5}); // IP address, descending
    EXPECT_EQ(m_tab->List().columnWidth(kLastSeen), 134);
    Make();
    headings = m_tab->List().horizontalHeader();
    EXPECT_EQ(headings->sortIndicatorSection(), 0);
    EXPECT_EQ(headings->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_FALSE(m_tab->List().isColumnHidden(kLastSeen));
    EXPECT_EQ(ToggleColumn(*m_tab, 2), (QStringList{"Vendor", "Type", "Last seen*"}));
    EXPECT_TRUE(m_tab->List().isColumnHidden(kLastSeen));
    EXPECT_TRUE(Make().List().isColumnHidden(kLastSeen));

    // Files we did not write leave the list as it starts.
    struct CCase {
        const char* text;
        int nSortColumn;
        bool bLastSeen;
    };
    for (const CCase& c :
         {CCase{"sort 1 descending\nshown 8\n", 1, true}, CCase{"sort 42 ascending\n", 0, false},
          CCase{"sort 1 up\n", 0, false}, CCase{"shown 8\n", 0, false},
          CCase{"sort 1 ascending\nshown x\n", 0, false}, CCase{"10 10 800 600\n", 0, false}}) {
        std::ofstream(m_viewFile) << c.text;
        Make();
        EXPECT_EQ(m_tab->List().horizontalHeader()->sortIndicatorSection(), c.nSortColumn)
            << c.text;
        EXPECT_EQ(m_tab->List().isColumnHidden(kLastSeen), !c.bLastSeen) << c.text;
    }
}

TEST_F(SystemTab, TheFilterReadsVendorModelAndTypeAndASortKeepsTheSelectedRowInView) {
    CTestTabSystem& tab = Make();
    constexpr int kArrays = 200;
    constexpr std::time_t kIn2030 = 1907000000; // mid-June
    for (int i = 0; i < kArrays; ++i) {
        const std::u16string n = Utf8ToUtf16(std::to_string(i % 100));
        const std::size_t row =
            Add(Utf8ToUtf16("10.0." + std::to_string(i / 100) + ".") + n, u"m" + n);
        // Names in the opposite order to the addresses.
        tab.SetCellText(row, EServerColumn::SystemName,
                        Utf8ToUtf16("array-" + std::to_string(2000 - i)));
        tab.ShowDetails(row, {i == 7 ? u"Halvard" : u"Tarvik", i == 8 ? u"Lunn" : u"Arvo",
                              i == 9 ? u"NAS" : u"SAN",
                              i == 9 ? std::chrono::system_clock::from_time_t(kIn2030)
                                     : std::chrono::system_clock::time_point{}});
    }
    auto* filter = qobject_cast<QLineEdit*>(tab.GetDlgItem(IDC_SERVER_FILTER));
    using V = std::vector<std::string>;
    // Not the time last seen, whose digits would match most addresses.
    for (const auto& [text, shown] : {std::pair{"halvard", V{"10.0.0.7"}},
                                      {"LUNN", V{"10.0.0.8"}},
                                      {"nas", V{"10.0.0.9"}},
                                      {"2030", V{}}}) {
        filter->setText(QString::fromLatin1(text));
        EXPECT_EQ(Shown(), shown) << text;
    }
    filter->clear();
    CListCtrl& list = tab.List();
    tab.SelectAndFocus(190); // 10.0.1.90, near the bottom
    list.scrollTo(list.currentIndex());
    const int x = list.horizontalHeader()->sectionViewportPosition(1) + 5;
    QTest::mouseClick(list.horizontalHeader()->viewport(), Qt::LeftButton, {}, {x, 5});
    EXPECT_EQ(list.RowAtViewPlace(kArrays - 191), 190u); // near the top now
    EXPECT_TRUE(list.viewport()->rect().contains(list.visualRect(list.currentIndex())));
}

} // namespace

// The Login button over a mixed selection, pressed by mouse and keyboard, and each login ending
// as scripted by MAC address on a worker, through the press the window uses: one box per press.
TEST_F(SystemTab, APressEndsInOneBoxTheArraysOwnForALoneFailureElseOneSortedSummary) {
    CRecords records;
    records.recorded = {u"00:01", u"00:09", u"00:10", u"00:02"};
    records.supported = {u"00:01", u"00:09", u"00:10"};
    const std::map<std::u16string, std::pair<ELoginResult, long>> endings = {
        {u"00:01", {ELoginResult::Succeeded, 200}},
        {u"00:09", {ELoginResult::NotSupported, 404}},
        {u"00:10", {ELoginResult::Refused, 401}}};
    std::atomic<int> pending = 0;
    std::vector<std::thread> workers;
    // The boxes the press shows go to the test's answerer like the tab's own.
    std::shared_ptr<IMessageBoxes> boxes(&m_boxes, [](IMessageBoxes*) {});
    CTestTabSystem& tab =
        Make(records.Hooks([&](std::vector<CLoginTarget> targets,
                               std::vector<CLoginSkipped> skipped, std::u16string, std::u16string) {
            auto press = std::make_shared<CLoginPress>(targets.size(), std::move(skipped), *m_tab,
                                                       m_window.Queue(), boxes, nullptr);
            pending = 1;
            workers.emplace_back([&endings, &pending, press, targets = std::move(targets)] {
                for (const CLoginTarget& target : targets) {
                    CLoginOutcome outcome;
                    outcome.strMAC = target.strMAC;
                    outcome.strIP = target.strIP;
                    std::tie(outcome.eResult, outcome.nCode) = endings.at(target.strMAC);
                    outcome.bAuthorized = outcome.eResult == ELoginResult::Succeeded;
                    outcome.strMessage = outcome.bAuthorized ? u"" : u"the array's own text";
                    press->OnOutcome(outcome);
                }
                pending = 0;
            });
        }));
    Add(u"10.0.0.10", u"00:10"); // wrong password
    Add(u"10.0.0.9", u"00:09");  // no login interface
    Add(u"10.0.0.2", u"00:02");  // unsupported
    Add(u"10.0.0.30", u"");      // no MAC address
    Add(u"10.0.0.1", u"00:01");  // logs in
    const struct {
        std::vector<std::size_t> rows;
        std::vector<std::u16string> boxes; // caption|text
    } cases[] = {
        {{0, 4}, {u"10.0.0.10|the array's own text"}},
        {{0, 1, 2, 3, 4},
         {u"OrvaneSrv|Logged in to 1 of 5 arrays.\n"
          u"Not logged in (IP address: reason):\n"
          u"10.0.0.2: does not support a login\n"
          u"10.0.0.9: answered HTTP 404\n"
          u"10.0.0.10: wrong user name or password\n"
          u"10.0.0.30: announces no MAC address"}},
    };
    for (const auto& c : cases) {
        m_seen.clear();
        Click(c.rows[0]);
        for (std::size_t i = 1; i < c.rows.size(); ++i) {
            Click(c.rows[i], Qt::ControlModifier);
        }
        ASSERT_TRUE(tab.IsLoginEnabled());
        WhenModal<CLoginDlg>([](CLoginDlg& d) {
            QTest::keyClick(d.GetDlgItem(IDC_ADMIN_PASSWORD), Qt::Key_Return);
        });
        QTest::mouseClick(tab.GetDlgItem(IDC_LOGIN), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return pending == 0 && !m_seen.empty(); }));
        QTest::qWait(50); // a second box would come now
        std::vector<std::u16string> seen;
        for (const CMessageBoxRequest& box : m_seen) {
            seen.push_back(box.caption + u"|" + box.text);
        }
        EXPECT_EQ(seen, c.boxes);
        EXPECT_EQ(tab.CellText(4, EServerColumn::Auth), u"Yes");
        EXPECT_EQ(tab.CellText(0, EServerColumn::Auth), u"No");
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
}

// The Auth cell's tip, as the mouse finds it, after a failed and after a successful login.
TEST_F(SystemTab, TheAuthCellsTipSaysHowTheLastLoginEndedAndWhenYesWasVerified) {
    CLoginHistory history;
    CTestTabSystem& tab =
        Make({.loginHistory = [&history](const std::u16string&) { return history; }});
    Add(u"10.0.0.1", u"00:01");
    const QDateTime when = QDateTime::currentDateTime();
    const QString hhmm = when.toString("HH:mm");
    const QString before = when.addSecs(-60).toString("HH:mm");
    const std::chrono::system_clock::time_point at{
        std::chrono::milliseconds(when.toMSecsSinceEpoch())};
    const CLoginMark refused{ELoginResult::Refused, 401, {}, at, false};
    const CLoginMark timedOut{ELoginResult::TransportError, 28, std::chrono::seconds(30), at,
                              false};
    CLoginMark verified{ELoginResult::Succeeded, 200, {}, at - std::chrono::minutes(1), false};
    CLoginMark remembered = verified;
    remembered.bRemembered = true;
    const struct {
        const char16_t* auth;
        CLoginHistory history;
        QString tip;
    } cases[] = {
        {u"No", {refused, {}}, "Last login " + hhmm + ": wrong user name or password"},
        {u"No", {timedOut, {}}, "Last login " + hhmm + ": no answer within 30 s"},
        {u"Yes", {verified, verified}, "Verified " + before + " by a login"},
        {u"Yes",
         {remembered, remembered},
         "Verified " + before + " by re-checking its remembered authorization"},
        {u"Yes",
         {refused, verified},
         "Verified " + before + " by a login\nLast login " + hhmm +
             ": wrong user name or password (the verified credentials stay)"},
    };
    CListCtrl& list = tab.List();
    const QRect cell =
        list.visualRect(list.model()->index(0, static_cast<int>(EServerColumn::Auth)));
    for (const auto& c : cases) {
        history = c.history;
        tab.SetCellText(0, EServerColumn::Auth, c.auth);
        QHelpEvent hover(QEvent::ToolTip, cell.center(),
                         list.viewport()->mapToGlobal(cell.center()));
        QApplication::sendEvent(list.viewport(), &hover);
        EXPECT_EQ(QToolTip::text(), c.tip);
        QToolTip::hideText();
    }
}
