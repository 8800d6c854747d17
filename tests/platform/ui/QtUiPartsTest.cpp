// Smaller pieces of the Qt layer: dialog units from the font, timers by identifier, the file
// dialogs, and the activation channel between two copies of the program.
#include "platform/ui/CActivationChannel.h"
#include "platform/ui/CDialogUnits.h"
#include "platform/ui/CFileDialogs.h"
#include "platform/ui/CTimerTable.h"
#include "platform/ui/CWaitCursor.h"
#include "platform/ui/UserFolderOutside.h"
#include "tests/support/CScopedEnv.h"
#include "tests/support/CTempDir.h"

#include <QApplication>
#include <QFontInfo>
#include <QLocalSocket>
#include <QTimerEvent>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

TEST(DialogUnits, OfThePinnedFontAreItsMeasuredPixels) {
    const CDialogTemplate dialog{1, u"", 100, 50, EDialogStyle::Child, u"DejaVu Sans", 8, {}};
    const QFont font = CDialogUnits::FontOf(dialog);
    ASSERT_EQ(QFontInfo(font).family(), "DejaVu Sans") << "fonts-dejavu-core is missing";
    const CDialogUnits units(font);
    // DejaVu Sans 8 pt: the letters average 7 px across, rounded (Qt's own average character
    // width says 6), and a character is 13 px high.
    EXPECT_EQ(units.BaseX(), 7);
    EXPECT_EQ(units.BaseY(), 13);
    // Four units across are one character, eight down one; halves round away from zero
    // (2 x 7 / 4 = 3.5, 4 x 13 / 8 = 6.5).
    const struct {
        int dlu, x, y;
    } cases[] = {{1, 2, 2}, {2, 4, 3}, {3, 5, 5}, {4, 7, 7}, {8, 14, 13}, {100, 175, 163}};
    for (const auto& c : cases) {
        EXPECT_EQ(units.X(c.dlu), c.x) << c.dlu;
        EXPECT_EQ(units.Y(c.dlu), c.y) << c.dlu;
    }
    EXPECT_EQ(units.ToPixels({2, 4, 8, 16}), QRect(4, 7, 14, 26));
    // List columns drawn for a 6 px average grow to this font's 7 px.
    EXPECT_EQ(units.DesignPixels(60), 70);
    EXPECT_EQ(units.DesignPixels(100), 117);
    EXPECT_EQ(units.DesignPixels(120), 140);
}

class TimerHost : public QObject {
public:
    std::vector<int> ticks;
    CTimerTable timers{*this};

protected:
    void timerEvent(QTimerEvent* event) override {
        if (const auto id = timers.Identify(event->timerId())) {
            ticks.push_back(*id);
        }
    }
};

TEST(TimerTable, TimersAreKnownByTheirIdentifiersAndCanFail) {
    TimerHost host;
    EXPECT_TRUE(host.timers.SetTimer(111, 30000));
    EXPECT_TRUE(host.timers.SetTimer(1, 0));
    EXPECT_TRUE(host.timers.IsSet(111));
    while (host.ticks.empty()) {
        QApplication::processEvents();
    }
    EXPECT_EQ(host.ticks.front(), 1);
    EXPECT_TRUE(host.timers.KillTimer(1));
    EXPECT_FALSE(host.timers.KillTimer(1));
    EXPECT_FALSE(host.timers.SetTimer(2, -1));
    EXPECT_FALSE(host.timers.IsSet(2));

    // A thread without an event loop cannot have timers.
    std::atomic<bool> set{true};
    std::thread([&] {
        QObject receiver;
        CTimerTable timers(receiver);
        set = timers.SetTimer(3, 10);
    }).join();
    EXPECT_FALSE(set.load());
}

TEST(WaitCursor, IsShownForTheObjectsLifetime) {
    {
        CWaitCursor wait;
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// Answers the replace question with the answers given, in order, and counts the questions.
class CScriptedBoxes : public IMessageBoxes {
public:
    std::vector<EMessageAnswer> answers;
    std::vector<std::u16string> texts;
    using IMessageBoxes::Show;
    EMessageAnswer Show(std::u16string_view text, std::u16string_view, EMessageIcon,
                        EMessageButtons) override {
        texts.emplace_back(text);
        const EMessageAnswer a = answers.empty() ? EMessageAnswer::Ok : answers.front();
        if (!answers.empty()) {
            answers.erase(answers.begin());
        }
        return a;
    }
};

TEST(FileDialogs, TheStartFolderIsTheUsersDocumentsOrHomeButNeverThePublishedFolder) {
    CTempDir home;
    CScopedEnv env;
    env.Set("HOME", home.Path().c_str());
    env.Set("XDG_CONFIG_HOME", nullptr);
    const std::filesystem::path h = std::filesystem::canonical(home.Path());
    const CTempDir other;
    const std::filesystem::path elsewhere = std::filesystem::canonical(other.Path());
    struct CCase {
        const char* what;
        const char* documents; // below home, made when not null
        const char* userDirs;  // the desktop's name for it, when not null
        std::filesystem::path published;
        std::filesystem::path expected;
    };
    const CCase cases[] = {
        {"documents outside", "Documents", nullptr, elsewhere, h / "Documents"},
        {"no documents folder", nullptr, nullptr, elsewhere, h},
        {"the desktop's name", "Papers", "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n", elsewhere,
         h / "Papers"},
        {"documents published", "Documents", nullptr, h / "Documents", h},
        {"home published", "Documents", nullptr, h, h / "Documents"},
        {"root published", "Documents", nullptr, "/", h / "Documents"},
        {"home published, no documents", nullptr, nullptr, h, "/"},
        {"nothing published", "Documents", nullptr, {}, h / "Documents"},
    };
    for (const CCase& c : cases) {
        for (const char* name : {"Documents", "Papers", ".config"}) {
            std::filesystem::remove_all(h / name);
        }
        if (c.documents) {
            std::filesystem::create_directories(h / c.documents);
        }
        if (c.userDirs) {
            home.Write(".config/user-dirs.dirs", c.userDirs);
        }
        EXPECT_EQ(UserFolderOutside(c.published), c.expected) << c.what;
    }

    CScriptedBoxes boxes;
    CFileDialogs dialogs(u"All Files (*.*)|*.*||", u"", boxes);
    dialogs.SetStartFolder(h);
    QString opened;
    dialogs.m_run = [&](QFileDialog& dialog) {
        opened = dialog.directory().absolutePath();
        return static_cast<int>(QDialog::Rejected);
    };
    dialogs.GetOpenFileName(nullptr);
    EXPECT_EQ(opened.toStdString(), h.string());
}

TEST(FileDialogs, SaveAddsTheExtensionAndAsksBeforeReplacingTheCompletedName) {
    CTempDir dir;
    dir.Write("conf.ovx", "old");
    CScriptedBoxes boxes;
    boxes.answers = {EMessageAnswer::No, EMessageAnswer::Yes};
    CFileDialogs dialogs(u"Orvane-Srv Files, (*.ovx)|*.ovx|All Files (*.*)|*.*||", u"*.ovx", boxes);
    int runs = 0;
    QStringList filters;
    dialogs.m_run = [&](QFileDialog& dialog) {
        ++runs;
        filters = dialog.nameFilters();
        dialog.setDirectory(QString::fromStdString(dir.Path().string()));
        dialog.selectFile(QStringLiteral("conf"));
        return static_cast<int>(QDialog::Accepted);
    };
    const auto chosen = dialogs.GetSaveFileName(nullptr);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, (dir.Path() / "conf.ovx").u16string());
    // "No" to replacing sent the operator back to the dialog once.
    EXPECT_EQ(runs, 2);
    ASSERT_EQ(boxes.texts.size(), 2u);
    EXPECT_EQ(boxes.texts[0], u"conf.ovx already exists.\nDo you want to replace it?");
    EXPECT_EQ(filters, (QStringList{"Orvane-Srv Files, (*.ovx)", "All Files (*)"}));

    // Open never asks, takes a name that does not exist, and a cancel gives nothing.
    dialogs.m_run = [&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.fileMode(), QFileDialog::AnyFile);
        dialog.setDirectory(QString::fromStdString(dir.Path().string()));
        dialog.selectFile(QStringLiteral("missing"));
        return static_cast<int>(QDialog::Accepted);
    };
    EXPECT_EQ(dialogs.GetOpenFileName(nullptr), (dir.Path() / "missing.ovx").u16string());
    dialogs.m_run = [](QFileDialog&) { return static_cast<int>(QDialog::Rejected); };
    EXPECT_FALSE(dialogs.GetSaveFileName(nullptr).has_value());
    EXPECT_EQ(boxes.texts.size(), 2u);
}

class Activation : public ::testing::Test {
protected:
    // Runs a client on a thread of its own while this thread serves the channel.
    bool ActivateFromAnotherThread(const std::function<bool()>& client) {
        std::atomic<bool> finished{false};
        bool result = false;
        std::thread t([&] {
            result = client();
            finished = true;
        });
        while (!finished) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        t.join();
        return result;
    }
    CTempDir m_dir;
    std::filesystem::path m_socket = m_dir / "instance.sock";
};

TEST_F(Activation, ARequestIsAnsweredAfterTheWindowCameForward) {
    EXPECT_FALSE(CActivationChannel::ActivateRunning(m_socket, 200)); // nobody listens yet
    m_dir.Write("instance.sock", "stale");                            // left by a copy that crashed
    int activations = 0;
    CActivationChannel channel;
    ASSERT_TRUE(channel.Listen(m_socket, [&] { ++activations; }));
    EXPECT_TRUE(ActivateFromAnotherThread(
        [&] { return CActivationChannel::ActivateRunning(m_socket, 2000); }));
    EXPECT_EQ(activations, 1);
}

TEST_F(Activation, AnythingButTheRequestIsDroppedUnanswered) {
    int activations = 0;
    CActivationChannel channel;
    ASSERT_TRUE(channel.Listen(m_socket, [&] { ++activations; }));
    for (const QByteArray& bytes : {QByteArray("activate\nactivate\n"), QByteArray("ACTIVATE\n"),
                                    QByteArray(100, 'a'), QByteArray("activ")}) {
        const bool answered = ActivateFromAnotherThread([&] {
            QLocalSocket socket;
            socket.connectToServer(QString::fromStdString(m_socket.string()));
            if (!socket.waitForConnected(2000)) {
                return true;
            }
            socket.write(bytes);
            socket.waitForBytesWritten(2000);
            if (bytes == "activ") {
                socket.disconnectFromServer(); // a peer that stops half way
                return false;
            }
            return socket.waitForReadyRead(300) && socket.bytesAvailable() > 0;
        });
        EXPECT_FALSE(answered) << bytes.constData();
    }
    QApplication::processEvents();
    EXPECT_EQ(activations, 0);
}

} // namespace
