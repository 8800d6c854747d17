// The main window for an operator with a fleet and a keyboard: it grows with the list taking the
// room, comes back where it was, keeps its status bar current, and its keys.
#include "platform/ui/CListCtrl.h"
#include "resources/ResourceIds.h"
#include "service/CCredentialService.h"
#include "service/listener/CTlsPortState.h"
#include "tests/console/ConsoleTestSupport.h"

#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>

namespace {

TEST(MainWindowLayout, GrowsWithTheListTakingTheRoomAndKeepsItsPlaceUnlessItIsBad) {
    CTestMainWindow grown;
    grown->SetSystemTabHooks({});
    grown->Create();
    grown->show();
    const QSize built = grown->size();
    EXPECT_EQ(grown->minimumSize(), built);
    const QSize listBefore = grown->TabSystem()->List().size();
    const QPoint exitBefore = grown->GetDlgItem(IDOK)->pos();
    const QPoint warningBefore = grown->WarningLine()->pos();
    grown->setGeometry(QRect(QPoint(40, 30), built + QSize(300, 200)));
    EXPECT_EQ(grown->TabSystem()->List().size(), listBefore + QSize(300, 200));
    EXPECT_EQ(grown->GetDlgItem(IDOK)->pos(), exitBefore + QPoint(300, 200));
    EXPECT_EQ(grown->WarningLine()->pos(), warningBefore + QPoint(0, 200));
    EXPECT_EQ(grown->findChild<QStatusBar*>()->geometry().bottom(), grown->height() - 1);
    grown->DestroyWindow();
    std::ifstream saved(grown.RegistryFile().parent_path() / "window");
    const std::string kept{std::istreambuf_iterator<char>(saved), {}};
    const std::string expected = "40 30 " + std::to_string(built.width() + 300) + " " +
                                 std::to_string(built.height() + 200) + "\n";
    EXPECT_EQ(kept, expected);

    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize big = built + QSize(100, 50);
    const std::string size = std::to_string(big.width()) + " " + std::to_string(big.height());
    QRect offScreen(QPoint(), big.boundedTo(screen.size())); // pulled back into the corner
    offScreen.moveBottomLeft(screen.bottomLeft());
    const std::pair<std::string, std::optional<QRect>> cases[] = {
        {kept, QRect(40, 30, built.width() + 300, built.height() + 200)},
        {"60 50 10 10", QRect(QPoint(60, 50), built)}, // never below the template's size
        {"-90000 90000 " + size, offScreen},
        {"60 50 " + size + " 9", std::nullopt},
        {"x y w h", std::nullopt},
        {"60 50 -9 " + size, std::nullopt},
    };
    for (const auto& [stored, place] : cases) {
        CTestMainWindow dialog;
        dialog->SetSystemTabHooks({});
        std::ofstream(dialog.RegistryFile().parent_path() / "window") << stored;
        dialog->Create();
        dialog->show();
        EXPECT_EQ(dialog->size(), place ? place->size() : built) << stored;
        EXPECT_EQ(dialog->geometry().topLeft(),
                  place ? place->topLeft() : dialog->geometry().topLeft())
            << stored;
        EXPECT_TRUE(place || dialog->geometry().topLeft() != QPoint(60, 50)) << stored;
    }
}

TEST(MainWindowLayout, TheStatusBarTellsTheServiceTheArraysAndTheLastSearch) {
    auto service = std::make_unique<CCredentialService>();
    CTestMainWindow dialog({[&service](COrvaneSrvCore& core) {
                                CServiceOptions options;
                                options.nPort = 0;
                                service->StartCredentialServer(core, options);
                            },
                            [&service](COrvaneSrvCore&) { service->StopCredentialServer(); }});
    dialog->SetSystemTabHooks({});
    dialog->Create();
    CTabSystem& tab = *dialog->TabSystem();
    for (const char16_t* auth : {u"No", u"Yes", u"No"}) {
        tab.SetCellText(tab.AppendRow(u"10.0.0." + std::u16string(1, auth[0])), EServerColumn::Auth,
                        auth);
    }
    QTest::keyClicks(tab.GetDlgItem(IDC_SERVER_FILTER), "10.0.0.Y");
    const std::string http = std::to_string(service->Port());
    // Both ports, or why HTTPS is not served, as the service last published its TLS port.
    using E = CTlsPortState::EState;
    const std::pair<CTlsPortState, std::string> ports[] = {
        {{E::Serving, 51443, "AB", ""},
         "Credential service on ports " + http + " and 51443 (HTTPS)"},
        {{E::NotServed, 0, "", "port 51443: in use"},
         "Credential service on port " + http + ", HTTPS not served: port 51443: in use"},
        {{}, "Credential service on port " + http + ", no HTTPS port"},
    };
    for (const auto& [tls, text] : ports) {
        CTlsPortState::Publish(tls);
        EXPECT_EQ(dialog->StatusText().toStdString(),
                  text + " | 3 arrays listed (1 shown), 1 authorized | No search has ended yet");
    }
    // A pass from F5: "Searching..." until it ends.
    dialog->show();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&*dialog));
    QTest::keyClick(&tab.List(), Qt::Key_F5);
    EXPECT_TRUE(dialog->StatusText().endsWith(QString::fromUtf8("| Searching\u2026")))
        << dialog->StatusText().toStdString();
    tab.EnableRefresh(true); // the pass ended
    service->StopCredentialServer();
    EXPECT_TRUE(dialog->StatusText().contains(QRegularExpression(
        "^Credential service not listening \\|.*\\| Last search ended at \\d\\d:\\d\\d:\\d\\d$")))
        << dialog->StatusText().toStdString();
}

TEST(MainWindowLayout, TabLeavesTheListCtrlKeysSwitchTabsAndF5Refreshes) {
    int refreshes = 0;
    CTestMainWindow dialog;
    dialog->SetSystemTabHooks({.onRefresh = [&refreshes] { ++refreshes; }});
    dialog->Create();
    dialog->show();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&*dialog));
    CTabSystem& tab = *dialog->TabSystem();
    tab.AppendRow(u"10.0.0.1");
    tab.AppendRow(u"10.0.0.2");
    tab.List().setFocus();
    tab.SelectAndFocus(0);
    QTest::keyClick(&tab.List(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), tab.GetDlgItem(IDC_REFRESH));
    const std::pair<QKeyCombination, int> steps[] = {
        {Qt::CTRL | Qt::Key_Tab, 1},      {Qt::CTRL | Qt::Key_Tab, 0},
        {Qt::CTRL | Qt::Key_PageDown, 1}, {Qt::CTRL | Qt::Key_PageUp, 0},
        {Qt::CTRL | Qt::Key_PageUp, 1},   {Qt::CTRL | Qt::Key_Backtab, 0}};
    for (const auto& [keys, index] : steps) {
        QTest::keyClick(QApplication::focusWidget(), keys.key(), keys.keyboardModifiers());
        EXPECT_EQ(dialog->TabCtrl().currentIndex(), index)
            << QKeySequence(keys).toString().toStdString();
    }
    // Like the button: not again while the pass runs.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
    EXPECT_EQ(refreshes, 1);
}

} // namespace
