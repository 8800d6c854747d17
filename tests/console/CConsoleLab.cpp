// Running a console test inside the lab, and driving the real main window there.
#include "tests/console/CConsoleLab.h"

#include "console/CLoginDlg.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CListCtrl.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"
#include "tests/console/ConsoleTestSupport.h"
#include "tests/support/TestGate.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <iostream>

namespace {

constexpr const char* kInsideVariable = "ORVANE_CONSOLE_LAB_INSIDE";
constexpr auto kSlice = std::chrono::milliseconds(5);
constexpr const char* kStoreName = "r.db";
constexpr std::string_view kNotePrefix = "NOTE: ";
constexpr std::string_view kInnerSkipped = "[  SKIPPED ] 1 test";

std::string CurrentTestFilter() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

} // namespace

bool CConsoleLab::InLab() {
    const char* inside = std::getenv(kInsideVariable);
    return inside != nullptr && inside[0] == '1';
}

void CConsoleLab::RunInLab(const std::string& labArgs, const std::vector<std::string>& extra,
                           const std::string& config, const std::string& before) {
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    const LabResult result = Run(labArgs,
                                 before + kInsideVariable + "=1 QT_QPA_PLATFORM=offscreen exec '" +
                                     self + "' --gtest_filter='" + CurrentTestFilter() + "' 2>&1\n",
                                 extra, config);
    std::string output;
    for (const std::string& line : result.lines) {
        output += line + "\n";
        if (line.rfind(kNotePrefix, 0) == 0) {
            std::cout << line << "\n";
        }
    }
    // The inner run must have run and passed this very test, not merely ended well; one that
    // skipped a step it could not take here is a skip here too, with its reasons.
    EXPECT_EQ(result.status, 0) << "the run inside the lab:\n" << output;
    if (output.find(kInnerSkipped) != std::string::npos) {
        ORVANE_SKIP("the run inside the lab skipped a step:\n" + output);
    }
    EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << "the run inside the lab:\n"
                                                                      << output;
}

COrvaneSrvDlg& CConsoleLab::StartWindow(CLoginOptions login, std::filesystem::path docRoot) {
    if (docRoot.empty()) {
        docRoot = m_store.Path();
    }
    m_pApp = std::make_unique<COrvaneSrvApp>(COrvaneSrvApp::CServiceHooks{
        [this, docRoot](COrvaneSrvCore& core) {
            CServiceOptions options;
            options.docRoot = docRoot;
            m_service.StartCredentialServer(core, options);
        },
        [this](COrvaneSrvCore&) { m_service.StopCredentialServer(); },
    });
    m_pApp->SetAuditTrail(std::make_shared<CAuditTrail>(AuditFile()));
    m_pDialog =
        std::make_unique<COrvaneSrvDlg>(*m_pApp, std::make_unique<CRegistryHive>(StoreFile()));
    m_pDialog->SetLoginOptions(login);
    m_pDialog->MessageBoxes()->SetAnswerer([this](const CMessageBoxRequest& request) {
        // The operator means to log in to the lab's new arrays: the question about them is
        // answered yes, and not counted among the boxes.
        const std::u16string_view askNew = LoadString(IDS_LOGIN_ASK_NEW);
        if (request.text.starts_with(askNew.substr(0, askNew.find(u"%1")))) {
            return std::optional(EMessageAnswer::Yes);
        }
        m_boxes.push_back(request);
        return std::optional(CQtMessageBoxes::DefaultAnswer(request.buttons));
    });
    m_pDialog->Create();
    m_pDialog->show();
    return *m_pDialog;
}

std::chrono::milliseconds CConsoleLab::StopWindow() {
    const auto start = std::chrono::steady_clock::now();
    m_pDialog->DestroyWindow();
    m_pDialog.reset();
    // With the program's audit trail, whose writer ends with the last holder of the trail.
    m_pApp.reset();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

std::filesystem::path CConsoleLab::AuditFile() const {
    return m_auditDir / "audit.log";
}

std::filesystem::path CConsoleLab::StoreFile() const {
    return m_store / kStoreName;
}

void CConsoleLab::WipeStore() {
    for (const auto& entry : std::filesystem::directory_iterator(m_store.Path())) {
        std::filesystem::remove_all(entry.path());
    }
}

bool CConsoleLab::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        QApplication::processEvents(QEventLoop::AllEvents, static_cast<int>(kSlice.count()));
        QTest::qWait(static_cast<int>(kSlice.count()));
    }
    return done();
}

std::size_t CConsoleLab::ThreadCount() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

bool CConsoleLab::WaitForPassEnd(std::chrono::milliseconds limit) {
    CTabSystem& tab = *m_pDialog->TabSystem();
    QTest::mouseClick(tab.GetDlgItem(IDC_REFRESH), Qt::LeftButton);
    return RunUntil([&tab] { return tab.IsRefreshEnabled(); }, limit);
}

std::string CConsoleLab::RowText(std::size_t row) const {
    const CTabSystem& tab = *m_pDialog->TabSystem();
    std::string text;
    for (std::size_t col = 0; col < kServerColumnCount; ++col) {
        text +=
            (col != 0 ? "|" : "") + Utf16ToUtf8(tab.CellText(row, static_cast<EServerColumn>(col)));
    }
    return text;
}

void CConsoleLab::ClickRow(std::size_t row, Qt::KeyboardModifiers modifiers) const {
    CListCtrl& list = m_pDialog->TabSystem()->List();
    const int place = ViewPlace(list, row);
    list.scrollTo(list.model()->index(place, 0));
    const QRect cell = list.visualRect(list.model()->index(place, 1));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, modifiers, cell.center());
}

void CConsoleLab::LoginWithKeys(const QString& user, const QString& password) const {
    WhenModal<CLoginDlg>([user, password](CLoginDlg& dialog) {
        auto* userEdit = qobject_cast<QLineEdit*>(dialog.GetDlgItem(IDC_ADMIN_USER));
        auto* passwordEdit = qobject_cast<QLineEdit*>(dialog.GetDlgItem(IDC_ADMIN_PASSWORD));
        userEdit->selectAll();
        QTest::keyClicks(userEdit, user);
        QTest::keyClicks(passwordEdit, password);
        QTest::keyClick(passwordEdit, Qt::Key_Return); // the default button, OK
    });
    QTest::mouseClick(m_pDialog->TabSystem()->GetDlgItem(IDC_LOGIN), Qt::LeftButton);
}
