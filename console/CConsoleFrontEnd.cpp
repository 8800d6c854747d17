#include "console/CConsoleFrontEnd.h"

#include "console/COrvaneSrvDlg.h"
#include "console/CWindowControlTarget.h"
#include "console/ConsoleLook.h"
#include "console/SocketLayerCheck.h"
#include "control/CControlChannel.h"
#include "control/CControlCommands.h"
#include "platform/io/ServiceManagerNotify.h"
#include "platform/registry/CRegistryHive.h"
#include "platform/text/FormatText.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CActivationChannel.h"
#include "platform/ui/CQtMessageBoxes.h"
#include "platform/ui/CQtWindowThread.h"
#include "platform/ui/CStopSignals.h"
#include "resources/OrvaneVersion.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"
#include "service/CServiceOptions.h"

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <string>

namespace {

constexpr int kExitSocketLayer = 1;
// As the headless program: the directory store cannot be used.
constexpr int kExitStoreUnusable = 2;
// More nested boxes and dialogs than this are not open at once.
constexpr int kMaxNestedWindows = 64;

// A stop signal closes whatever is open above the main window (an About box, the Login
// Dialog, message boxes), so that their loops return, and then ends the main window's run.
void CloseFromSignal(COrvaneSrvDlg& dialog) {
    for (int i = 0; i < kMaxNestedWindows; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == &dialog) {
            break;
        }
        modal->close();
    }
    dialog.EndDialog(CDialog::IDCANCEL);
}

// Names the copy that runs without a window and the ways on, on standard error and in a box that
// a stop signal also closes.
void ShowRunningHeadless(pid_t pid, CStopSignals& stopSignals) {
    const std::u16string pidText = pid > 0 ? Utf8ToUtf16(std::to_string(pid)) : u"unknown";
    const std::u16string text = FormatText(LoadString(IDS_RUNNING_HEADLESS), {pidText});
    std::fprintf(stderr, "%s\n", Utf16ToUtf8(text).c_str());
    stopSignals.OnStop([] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->close();
        }
    });
    CQtWindowThread thread;
    CQtMessageBoxes(thread.Queue()).Show(text, EMessageIcon::Warning);
}

} // namespace

CConsoleFrontEnd::CConsoleFrontEnd(COrvaneSrvApp& app) : m_app(app) {}

std::filesystem::path CConsoleFrontEnd::ActivationSocket(const std::filesystem::path& storeFile) {
    return storeFile.parent_path() / "instance.sock";
}

int CConsoleFrontEnd::RefuseStart(int argc, char** argv, std::string_view reason) {
    QApplication application(argc, argv);
    ApplyConsoleLook(application);
    CQtWindowThread thread;
    CQtMessageBoxes(thread.Queue()).Show(Utf8ToUtf16(reason), EMessageIcon::Error);
    return kExitStoreUnusable;
}

int CConsoleFrontEnd::Run(int argc, char** argv) {
    // Before the application object starts threads of its own: they inherit the mask.
    CStopSignals stopSignals;
    QApplication application(argc, argv);
    ApplyConsoleLook(application);

    const auto storeFile = CRegistryHive::DefaultPath();
    const auto socketFile = ActivationSocket(storeFile);
    const auto lockFile = storeFile.parent_path() / "instance.lock";
    if (!m_app.AcquireInstanceLock(lockFile)) {
        // A first copy without a window cannot come forward; say what is going on instead.
        if (!CActivationChannel::ActivateRunning(socketFile)) {
            ShowRunningHeadless(COrvaneSrvApp::InstanceLockHolder(lockFile), stopSignals);
        }
        return 0;
    }
    // A peer that closes its connection early must not end the process.
    std::signal(SIGPIPE, SIG_IGN);

    {
        CQtWindowThread startThread;
        CQtMessageBoxes startBoxes(startThread.Queue());
        if (!CheckSocketLayer(startBoxes)) {
            return kExitSocketLayer;
        }
    }

    COrvaneSrvDlg dialog(m_app, std::make_unique<CRegistryHive>(storeFile));
    dialog.Create();
    if (!dialog.StartUpError().empty()) {
        // Nothing was written and nothing serves: say why and end.
        dialog.ReportStartUpError();
        std::fprintf(stderr, "%s\n", Utf16ToUtf8(dialog.StartUpError()).c_str());
        return kExitStoreUnusable;
    }
    dialog.AskToUnseal();
    CActivationChannel activation;
    if (!activation.Listen(socketFile, [&dialog] { dialog.Activate(); })) {
        std::fprintf(stderr,
                     "OrvaneSrv: cannot listen on %s; a second copy will not bring this "
                     "window forward\n",
                     socketFile.c_str());
    }
    CWindowControlTarget target(dialog);
    std::error_code ec;
    CControlCommands commands(target, {Utf16ToUtf8(ORVANE_VERSION_TEXT), storeFile.string(),
                                       std::filesystem::current_path(ec).string(),
                                       CServiceOptions::kDefaultPort});
    auto control = CControlChannel::OpenBeside(
        dialog.WindowThread(),
        [&commands](const std::vector<std::string>& args, const CControlChannel::CDone& done) {
            commands.Run(args, done);
        },
        storeFile);
    stopSignals.OnStop([&dialog] { CloseFromSignal(dialog); });
    NotifyServiceReady("serving with the window open");
    dialog.DoModal();
    NotifyServiceStopping();
    // Waiting orvanectl requests are answered that the program stops.
    control.reset();
    return 0;
}
