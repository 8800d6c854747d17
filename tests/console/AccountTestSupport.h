// The fixture of the Account tab tests: the main window on a store of its own, shown with the
// Account tab in front, its message boxes recorded and answered by the test; and the operator's
// gestures on the page and its dialogs.
#pragma once

#include "console/CTabAccount.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CListBox.h"
#include "platform/ui/CListCtrl.h"
#include "tests/console/ConsoleTestSupport.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/support/CCoreTestAccess.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

template <typename List>
Names Texts(const List& list) {
    Names texts;
    for (std::size_t i = 0; i < list.GetCount(); ++i) {
        texts.push_back(list.GetText(i));
    }
    return texts;
}

inline void ClickEntry(QAbstractItemView& view, std::size_t row, int col = 0) {
    const QRect r = view.visualRect(view.model()->index(static_cast<int>(row), col));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, r.center());
}

// The row's first cell made current, then Space.
inline void ToggleCheck(CListCtrl& list, std::size_t row) {
    const QRect r = list.visualRect(list.model()->index(ViewPlace(list, row), 0));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(r.right() - 4, r.center().y()));
    QTest::keyClick(&list, Qt::Key_Space);
}

inline void Type(CDialog& dialog, int id, std::u16string_view text) {
    auto* edit = qobject_cast<QLineEdit*>(dialog.GetDlgItem(id));
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, QString::fromStdU16String(std::u16string(text)));
}

inline void ClickOk(CDialog& dialog) {
    QTest::mouseClick(dialog.GetDlgItem(CDialog::IDOK), Qt::LeftButton);
}

// In the file dialog that the button opens: the file's folder, then its name typed.
inline void ClickWithFile(QWidget* button, const std::filesystem::path& file) {
    WhenModal<QFileDialog>([file](QFileDialog& dialog) {
        dialog.setDirectory(QString::fromStdString(file.parent_path().string()));
        auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QTest::keyClicks(edit, QString::fromStdString(file.filename().string()));
        QTest::keyClick(edit, Qt::Key_Return);
    });
    QTest::mouseClick(button, Qt::LeftButton);
}

// How many modal windows act opened; each one is closed again at once.
inline int ModalsOpenedBy(const std::function<void()>& act) {
    int opened = 0;
    QObject scope; // a check still pending when act returns goes with it
    QTimer::singleShot(0, &scope, [&opened] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            ++opened;
            modal->close();
        }
    });
    act();
    return opened;
}

class AccountTab : public ::testing::Test {
protected:
    void SetUp() override {
        m_window->MessageBoxes()->SetAnswerer([this](const CMessageBoxRequest& r) {
            m_boxes.push_back(r);
            if (m_onBox) {
                return m_onBox(r);
            }
            return r.buttons == EMessageButtons::YesNo ? m_answer : EMessageAnswer::Ok;
        });
        m_window->Create();
        m_window->show();
        m_window->TabCtrl().setCurrentIndex(1);
    }
    void TearDown() override { m_window->DestroyWindow(); }

    CTabAccount& Tab() { return *m_window->TabAccount(); }
    COrvaneSrvCore& Core() { return m_window->Core(); }
    void Send(CDirectoryMessage msg) { Core().SendMessage(std::move(msg)); }
    void ClickButton(int id) { QTest::mouseClick(Tab().GetDlgItem(id), Qt::LeftButton); }
    // The groups listed afresh (the test changed them behind the page), then the one clicked.
    void SelectGroup(std::u16string_view name) {
        Tab().ReloadGroups();
        ClickEntry(Tab().Groups(), Tab().Groups().FindStringExact(name));
    }
    Names GroupsOf(const std::u16string& user) { return Core().UserRecord(user)->m_listGroups; }
    Names MembersOf(const std::u16string& group) { return Core().GroupRecord(group)->m_listUsers; }
    CStoredValues Stored(std::u16string_view key) {
        return ReadValues(m_window.RegistryFile(), key);
    }
    // Runs act while another process keeps the store locked and the core gives up at once.
    void WithStoreLocked(const std::function<void()>& act) {
        CRegistryHive other(m_window.RegistryFile());
        ASSERT_EQ(other.Begin(), ERROR_SUCCESS);
        CCoreTestAccess::Registry(Core()).Hive().SetLockWait(std::chrono::milliseconds(0));
        ::testing::internal::CaptureStderr();
        act();
        ::testing::internal::GetCapturedStderr();
    }
    // Submits the dialog (Enter in enterIn, else OK) and expects one more warning, with the
    // caret back in field.
    void ExpectRefused(CDialog& d, QWidget* enterIn, std::u16string_view message, int field) {
        const std::size_t before = m_boxes.size();
        enterIn ? QTest::keyClick(enterIn, Qt::Key_Return) : ClickOk(d);
        ASSERT_EQ(m_boxes.size(), before + 1);
        EXPECT_EQ(m_boxes.back().text, message);
        EXPECT_EQ(d.focusWidget(), d.GetDlgItem(field)) << Utf16ToUtf8(message);
    }

    CTestMainWindow m_window;
    std::vector<CMessageBoxRequest> m_boxes;
    EMessageAnswer m_answer = EMessageAnswer::Yes; // to "Sure to delete?"
    std::function<EMessageAnswer(const CMessageBoxRequest&)> m_onBox;
};
