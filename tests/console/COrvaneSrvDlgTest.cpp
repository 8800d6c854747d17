// The main window: its start-up and shutdown order, the window menu with the About entry last,
// bringing it forward, message boxes from workers at shutdown, and the socket layer check.
#include "console/CAboutDlg.h"
#include "console/SocketLayerCheck.h"
#include "platform/ui/CListCtrl.h"
#include "resources/ResourceIds.h"
#include "tests/console/ConsoleTestSupport.h"
#include "tests/support/CCoreTestAccess.h"

#include <QAction>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <tuple>

namespace {

TEST(MainWindow, StartsAndStopsInItsFixedOrder) {
    std::vector<std::string> steps;
    COrvaneSrvDlg* window = nullptr;
    CTestMainWindow dialog({
        [&](COrvaneSrvCore& core) {
            // Last: the pages exist and the built-in accounts too.
            steps.push_back("service start");
            EXPECT_NE(window->TabSystem(), nullptr);
            EXPECT_NE(window->TabAccount(), nullptr);
            EXPECT_TRUE(core.UserRecord(u"admin").has_value());
            EXPECT_TRUE(core.GroupRecord(u"Everyone").has_value());
        },
        [&](COrvaneSrvCore& core) {
            // First: pages and records are all still there.
            steps.push_back("service stop");
            EXPECT_NE(window->TabSystem(), nullptr);
            EXPECT_TRUE(core.UserRecord(u"admin").has_value());
        },
    });
    window = &*dialog;
    dialog->SetSystemTabHooks({
        .startFirstPass =
            [&] {
                // The System page starts discovery before the Account page exists.
                steps.push_back("first pass");
                EXPECT_EQ(window->TabAccount(), nullptr);
                EXPECT_FALSE(window->Core().UserRecord(u"admin").has_value());
            },
    });
    dialog->Create();
    EXPECT_EQ(steps, (std::vector<std::string>{"first pass", "service start"}));
    CXTabCtrl& tabs = dialog->TabCtrl();
    ASSERT_EQ(tabs.count(), 2);
    EXPECT_EQ(tabs.tabText(0), "System");
    EXPECT_EQ(tabs.tabText(1), "Account");
    EXPECT_EQ(tabs.Page(0), dialog->TabSystem());
    EXPECT_EQ(tabs.tabRect(0).width(), COrvaneSrvDlg::kMinTabWidth);
    EXPECT_EQ(tabs.CaptionColor(0), QColor(0, 0, 255));
    EXPECT_EQ(dialog->windowTitle(), "Orvane-Srv");
    EXPECT_FALSE(dialog->windowIcon().isNull());
    EXPECT_TRUE(dialog->TabSystem()->IsTimerSet(CTabSystem::kDiscoveryTimerId));

    dialog->DestroyWindow();
    EXPECT_EQ(steps.back(), "service stop");
    EXPECT_EQ(dialog->TabSystem(), nullptr);
    EXPECT_EQ(dialog->TabAccount(), nullptr);
    EXPECT_TRUE(dialog->Core().UserNames().empty());
    dialog->DestroyWindow(); // once only
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "service stop"), 1);
}

TEST(MainWindow, BuiltInAccountsThatCannotBeWrittenAreReportedInABoxAfterThePagesWent) {
    CTestMainWindow dialog;
    std::unique_ptr<CRegistryHive> other;
    dialog->SetSystemTabHooks({
        .startFirstPass =
            [&] {
                // Between the load and the built-in accounts, another process locks the store.
                other = std::make_unique<CRegistryHive>(dialog.RegistryFile());
                ASSERT_EQ(other->Begin(), ERROR_SUCCESS);
                CCoreTestAccess::Registry(dialog->Core())
                    .Hive()
                    .SetLockWait(std::chrono::milliseconds(0));
            },
    });
    ::testing::internal::CaptureStderr();
    dialog->Create();
    ::testing::internal::GetCapturedStderr();
    other.reset();
    EXPECT_EQ(dialog->TabSystem(), nullptr);
    EXPECT_NE(dialog->StartUpError().find(u"the built-in accounts cannot be written"),
              std::u16string::npos);
    dialog->ReportStartUpError();
    ASSERT_EQ(dialog.Boxes().size(), 1u);
    EXPECT_EQ(dialog.Boxes()[0].text, dialog->StartUpError());
    EXPECT_EQ(dialog.Boxes()[0].caption, u"OrvaneSrv");
    EXPECT_EQ(dialog.Boxes()[0].icon, EMessageIcon::Error);
    dialog->DestroyWindow();
}

TEST(MainWindow, ExitTheCloseBoxAndCtrlQAskBeforeEndingEscAndEnterNever) {
    auto key = [](Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        return [k, mods](COrvaneSrvDlg& d) { QTest::keyClick(&d.TabSystem()->List(), k, mods); };
    };
    const std::tuple<std::function<void(COrvaneSrvDlg&)>, bool, int> ways[] = {
        {[](COrvaneSrvDlg& d) { QTest::mouseClick(d.GetDlgItem(IDOK), Qt::LeftButton); }, true,
         CDialog::IDOK},
        {[](COrvaneSrvDlg& d) { d.close(); }, true, CDialog::IDCANCEL},
        {key(Qt::Key_Q, Qt::ControlModifier), true, CDialog::IDOK},
        {key(Qt::Key_Escape), false, 0},
        {key(Qt::Key_Return), false, 0}};
    for (const auto& [act, bAsks, nResult] : ways) {
        for (const EMessageAnswer answer : {EMessageAnswer::No, EMessageAnswer::Yes}) {
            CTestMainWindow dialog;
            std::vector<std::u16string> asked;
            dialog->MessageBoxes()->SetAnswerer([&](const CMessageBoxRequest& r) {
                asked.push_back(r.text);
                return std::optional(answer);
            });
            WhenModal<COrvaneSrvDlg>([&](COrvaneSrvDlg& d) {
                d.activateWindow();
                ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
                act(d);
                if (d.isVisible()) {
                    d.EndDialog(-1); // a stop signal's way, without a question
                }
            });
            const bool bEnds = bAsks && answer == EMessageAnswer::Yes;
            EXPECT_EQ(dialog->DoModal(), bEnds ? nResult : CDialog::IDCANCEL) << nResult;
            const std::vector<std::u16string> question{u"Stop the credential service and exit?"};
            EXPECT_EQ(asked, bAsks ? question : std::vector<std::u16string>{});
        }
    }
}

TEST(MainWindow, TheAboutEntryIsTheLastMenuItemAfterASeparatorAndF1OpensAFreshBoxToo) {
    CTestMainWindow dialog;
    dialog->Create();
    dialog->show();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&*dialog));
    const QList<QAction*> actions = dialog->WindowMenu().Menu().actions();
    ASSERT_GE(actions.size(), 2);
    EXPECT_EQ(actions.back()->text(), "&About Orvane-Srv...");
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());

    // Each box shows the HTTPS port as the service last published it: the fingerprint in two
    // lines of 16 bytes, or the reason the port is not served.
    std::string fingerprint;
    for (int i = 0; i < 32; ++i) {
        fingerprint += (i == 0 ? "" : ":") + std::string(i < 16 ? "0A" : "B1");
    }
    using E = CTlsPortState::EState;
    const struct {
        CTlsPortState tls;
        QString https;
        QString fingerprint;
    } cases[] = {
        {{E::Serving, 51443, fingerprint, ""},
         "HTTPS on port 51443, certificate SHA-256:",
         QString::fromStdString(fingerprint.substr(0, 47) + "\n" + fingerprint.substr(48))},
        {{E::NotServed, 0, "", "port 51443: in use"}, "HTTPS not served: port 51443: in use", ""},
    };
    std::vector<QString> versions;
    for (const auto& c : cases) {
        CTlsPortState::Publish(c.tls);
        WhenModal<CAboutDlg>([&](CAboutDlg& about) {
            versions.push_back(QString::fromStdU16String(about.GetDlgItemText(IDC_ABOUT_VERSION)));
            EXPECT_EQ(QString::fromStdU16String(about.GetDlgItemText(IDC_ABOUT_HTTPS)), c.https);
            EXPECT_EQ(QString::fromStdU16String(about.GetDlgItemText(IDC_ABOUT_FINGERPRINT)),
                      c.fingerprint);
            QTest::keyClick(&about, Qt::Key_Escape);
        });
        if (versions.empty()) {
            actions.back()->trigger();
        } else { // F1, from wherever the focus is
            dialog->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&*dialog));
            QTest::keyClick(&dialog->TabSystem()->List(), Qt::Key_F1);
        }
    }
    CTlsPortState::Publish({});
    ASSERT_EQ(versions.size(), 2u);
    EXPECT_TRUE(versions[0].startsWith("Orvane-Srv Version "));
    dialog->DestroyWindow();
}

TEST(MainWindow, ARightClickOrAltSpaceOpensTheWindowMenu) {
    CTestMainWindow dialog;
    dialog->Create();
    dialog->show();
    QMenu& menu = dialog->WindowMenu().Menu();
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                            dialog->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&*dialog, &click);
    EXPECT_TRUE(menu.isVisible());
    menu.hide();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&*dialog));
    QTest::keyClick(&*dialog, Qt::Key_Space, Qt::AltModifier);
    EXPECT_TRUE(menu.isVisible());
    menu.hide();
    dialog->DestroyWindow();
}

TEST(MainWindow, ActivateBringsAMinimizedWindowBack) {
    CTestMainWindow dialog;
    dialog->Create();
    dialog->showMinimized();
    ASSERT_TRUE(dialog->isMinimized());
    dialog->Activate();
    EXPECT_FALSE(dialog->isMinimized());
    EXPECT_TRUE(dialog->isVisible());
    dialog->DestroyWindow();
}

TEST(MainWindow, WorkersBoxesAreAnsweredThroughTheWindowAndReleasedAtShutdown) {
    CTestMainWindow dialog;
    dialog->Create();
    std::atomic<bool> first{false};
    std::thread answered([&] {
        dialog->MessageBoxes()->Show(u"Not Support", u"10.1.1.1", EMessageIcon::Warning,
                                     EMessageButtons::Ok);
        first = true;
    });
    while (!first) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    answered.join();
    ASSERT_EQ(dialog.Boxes().size(), 1u);
    EXPECT_EQ(dialog.Boxes()[0].caption, u"10.1.1.1");
    EXPECT_TRUE(dialog.Boxes()[0].bFromWorker);

    // A box left open by the operator, and a worker still waiting to be heard, at shutdown.
    dialog->MessageBoxes()->SetAnswerer([](const CMessageBoxRequest&) { return std::nullopt; });
    std::atomic<int> released{0};
    std::thread open([&] {
        dialog->MessageBoxes()->Show(u"Authentication failed", u"10.1.1.2", EMessageIcon::Error,
                                     EMessageButtons::Ok);
        ++released;
    });
    while (dialog->MessageBoxes()->OpenCount() == 0) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    std::thread queued([&] {
        dialog->MessageBoxes()->Show(u"Http Status Code: 500", u"10.1.1.3", EMessageIcon::Warning,
                                     EMessageButtons::Ok);
        ++released;
    });
    dialog->DestroyWindow();
    open.join();
    queued.join();
    EXPECT_EQ(released.load(), 2);
}

TEST(SocketLayerCheck, AFailingSocketLayerShowsTheMessageAndStops) {
    class CRecordingBoxes : public IMessageBoxes {
    public:
        std::vector<std::u16string> texts;
        using IMessageBoxes::Show;
        EMessageAnswer Show(std::u16string_view text, std::u16string_view caption, EMessageIcon,
                            EMessageButtons) override {
            texts.emplace_back(text);
            EXPECT_EQ(caption, kProgramName);
            return EMessageAnswer::Ok;
        }
    } boxes;
    EXPECT_TRUE(CheckSocketLayer(boxes, [] { return true; }));
    EXPECT_TRUE(boxes.texts.empty());
    EXPECT_FALSE(CheckSocketLayer(boxes, [] { return false; }));
    EXPECT_EQ(boxes.texts, std::vector<std::u16string>{u"Windows sockets initialization failed."});
    EXPECT_TRUE(CanCreateSocket());
}

} // namespace
