#include "console/CConsoleFrontEnd.h"

#include "console/COrvaneSrvDlg.h"
#include "console/ConsoleLook.h"
#include "console/SocketLayerCheck.h"
#include "platform/registry/CRegistryHive.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CActivationChannel.h"
#include "platform/ui/CQtMessageBoxes.h"
#include "platform/ui/CQtWindowThread.h"
#include "platform/ui/CStopSignals.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

#include <QApplication>
#include <csignal>
#include <cstdio>

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

} // namespace

CConsoleFrontEnd::CConsoleFrontEnd(COrvaneSrvApp& app) : m_app(app) {}

std::filesystem::path CConsoleFrontEnd::ActivationSocket(const std::filesystem::path& storeFile) {
    return storeFile.parent_path() / "instance.sock";
}

int CConsoleFrontEnd::Run(int argc, char** argv) {
    // Before the application object starts threads of its own: they inherit the mask.
    CStopSignals stopSignals;
    QApplication application(argc, argv);
    ApplyConsoleLook(application);

    const auto storeFile = CRegistryHive::DefaultPath();
    const auto socketFile = ActivationSocket(storeFile);
    if (!m_app.AcquireInstanceLock(storeFile.parent_path() / "instance.lock")) {
        // A first copy without a window cannot come forward; say what is going on instead.
        if (!CActivationChannel::ActivateRunning(socketFile)) {
            std::fprintf(stderr, "%s\n", Utf16ToUtf8(LoadString(IDS_ALREADY_RUNNING)).c_str());
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
    CActivationChannel activation;
    if (!activation.Listen(socketFile, [&dialog] { dialog.Activate(); })) {
        std::fprintf(stderr,
                     "OrvaneSrv: cannot listen on %s; a second copy will not bring this "
                     "window forward\n",
                     socketFile.c_str());
    }
    stopSignals.OnStop([&dialog] { CloseFromSignal(dialog); });
    dialog.DoModal();
    return 0;
}
