// The main window for an operator with a fleet and a keyboard: it grows with the lists taking the
// room, comes back where it was, keeps its status bar up to date, switches tabs and refreshes
// from the keyboard, and Tab leaves the server list.
#include "platform/ui/CListCtrl.h"
#include "resources/ResourceIds.h"
#include "service/CCredentialService.h"
#include "tests/console/ConsoleTestSupport.h"

#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>

namespace {

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(MainWindowLayout, GrowsWithTheListTakingTheRoomAndComesBackWhereItWas) {
    CTestMainWindow dialog;
    dialog->SetSystemTabHooks({});
    dialog->Create();
    dialog->show();
    const QSize built = dialog->size();
    EXPECT_EQ(dialog->minimumSize(), built);
    CListCtrl& list = dialog->TabSystem()->List();
    const QRect listBefore = list.geometry();
    const QRect exitBefore = dialog->GetDlgItem(IDOK)->geometry();
    const QPoint grown(300, 200);
    dialog->setGeometry(QRect(QPoint(40, 30), built + QSize(grown.x(), grown.y())));
    EXPECT_EQ(list.size(), listBefore.size() + QSize(grown.x(), grown.y()));
    EXPECT_EQ(dialog->GetDlgItem(IDOK)->pos(), exitBefore.topLeft() + grown);
    const QStatusBar* bar = dialog->findChild<QStatusBar*>();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->geometry().bottom(), dialog->height() - 1);
    EXPECT_EQ(bar->width(), dialog->width());
    const QRect place = dialog->geometry();
    dialog->DestroyWindow();
    const auto file = dialog.RegistryFile().parent_path() / "window";
    EXPECT_EQ(ReadFile(file), std::to_string(place.x()) + " " + std::to_string(place.y()) + " " +
                                  std::to_string(place.width()) + " " +
                                  std::to_string(place.height()) + "\n");
}

TEST(MainWindowLayout, AStoredPlaceIsTakenBackUnlessItIsBadOrOffEveryScreen) {
    struct Case {
        const char* stored;
        std::function<void(const QRect& place, const QSize& built)> check;
    };
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const Case cases[] = {
        {"60 50 900 500\n",
         [](const QRect& p, const QSize&) { EXPECT_EQ(p, QRect(60, 50, 900, 500)); }},
        {"60 50 10 10",
         [](const QRect& p, const QSize& built) {
             EXPECT_EQ(p, QRect(QPoint(60, 50), built)); // never below the template's size
         }},
        {"-90000 -90000 900 500",
         [&screen](const QRect& p, const QSize&) {
             EXPECT_TRUE(screen.contains(p.topLeft())) << p.x() << "," << p.y();
         }},
        {"60 50 900", nullptr},
        {"60 50 900 500 9", nullptr},
        {"x y w h", nullptr},
        {"60 50 -900 500", nullptr},
    };
    for (const Case& c : cases) {
        CTestMainWindow dialog;
        dialog->SetSystemTabHooks({});
        std::ofstream(dialog.RegistryFile().parent_path() / "window") << c.stored;
        dialog->Create();
        const QSize built = dialog->size();
        dialog->show();
        if (c.check) {
            c.check(dialog->geometry(), built);
        } else {
            EXPECT_EQ(dialog->size(), built) << c.stored;
            EXPECT_NE(dialog->pos(), QPoint(60, 50)) << c.stored;
        }
        dialog->DestroyWindow();
    }
}

TEST(MainWindowLayout, TheStatusBarTellsTheServiceTheArraysAndTheLastSearch) {
    std::unique_ptr<CCredentialService> service;
    CTestMainWindow dialog({[&service](COrvaneSrvCore& core) {
                                CServiceOptions options;
                                options.nPort = 0;
                                service = std::make_unique<CCredentialService>();
                                service->StartCredentialServer(core, options);
                            },
                            [&service](COrvaneSrvCore&) { service.reset(); }});
    dialog->SetSystemTabHooks({});
    dialog->Create();
    ASSERT_NE(service->Port(), 0);
    CTabSystem& tab = *dialog->TabSystem();
    for (const char16_t* ip : {u"10.0.0.1", u"10.0.0.2", u"10.0.0.3"}) {
        tab.SetCellText(tab.AppendRow(ip), EServerColumn::Auth, u"No");
    }
    tab.SetCellText(1, EServerColumn::Auth, u"Yes");
    QTest::keyClicks(tab.GetDlgItem(IDC_SERVER_FILTER), "10.0.0.1");
    EXPECT_EQ(dialog->StatusText().toStdString(),
              "Credential service listening on port " + std::to_string(service->Port()) +
                  " | 3 arrays listed (1 shown), 1 authorized | No search has ended yet");
    tab.EnableRefresh(true); // a pass ended
    EXPECT_TRUE(dialog->StatusText().contains(
        QRegularExpression(QStringLiteral("\\| Last search ended at \\d\\d:\\d\\d:\\d\\d$"))))
        << dialog->StatusText().toStdString();
    service->StopCredentialServer();
    EXPECT_TRUE(
        dialog->StatusText().startsWith(QStringLiteral("Credential service not listening |")));
    dialog->DestroyWindow();
}

TEST(MainWindowLayout, TheKeyboardLeavesTheListSwitchesTabsAndRefreshes) {
    int refreshes = 0;
    CTestMainWindow dialog;
    dialog->SetSystemTabHooks({.onRefresh = [&refreshes] { ++refreshes; }});
    dialog->Create();
    dialog->show();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&*dialog));
    CTabSystem& tab = *dialog->TabSystem();
    for (const char16_t* ip : {u"10.0.0.1", u"10.0.0.2"}) {
        tab.AppendRow(ip);
    }
    tab.List().setFocus();
    tab.SelectAndFocus(0);
    QTest::keyClick(&tab.List(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), tab.GetDlgItem(IDC_REFRESH));

    CXTabCtrl& tabs = dialog->TabCtrl();
    struct Step {
        QKeyCombination keys;
        int tab;
    };
    const Step steps[] = {{Qt::CTRL | Qt::Key_Tab, 1},      {Qt::CTRL | Qt::Key_Tab, 0},
                          {Qt::CTRL | Qt::Key_PageDown, 1}, {Qt::CTRL | Qt::Key_PageUp, 0},
                          {Qt::CTRL | Qt::Key_PageUp, 1},   {Qt::CTRL | Qt::Key_Backtab, 0}};
    for (const Step& step : steps) {
        QTest::keyClick(QApplication::focusWidget(), step.keys.key(),
                        step.keys.keyboardModifiers());
        EXPECT_EQ(tabs.currentIndex(), step.tab)
            << QKeySequence(step.keys).toString().toStdString();
    }
    // F5 is Refresh, and like the button not while a pass runs.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
    EXPECT_EQ(refreshes, 1);
    EXPECT_FALSE(tab.IsRefreshEnabled());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
    EXPECT_EQ(refreshes, 1);
    dialog->DestroyWindow();
}

} // namespace
