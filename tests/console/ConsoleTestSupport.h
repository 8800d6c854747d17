// Helpers of the console tests: a main window over a store of its own, and the running of modal
// dialogs without a human.
#pragma once

#include "console/COrvaneSrvDlg.h"
#include "platform/ui/CListCtrl.h"
#include "tests/support/CTempDir.h"

#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

// How long WhenModal waits for its dialog.
inline constexpr std::chrono::seconds kModalDeadline{30};

// Calls act with the modal window (or with WhenPopup, the popup menu) once it is up, from inside
// its loop. When no such window is up by the deadline, the test fails, and any other such window
// that is up is closed, so that the test goes on instead of hanging in that window's loop.
template <typename Window>
void WhenUp(QWidget* (*find)(), std::function<void(Window&)> act) {
    // Each pending poll holds the poller; the poller only looks at itself weakly.
    auto poll = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> self = poll;
    const auto deadline = std::chrono::steady_clock::now() + kModalDeadline;
    *poll = [find, act, self, deadline] {
        QWidget* modal = find();
        if (auto* window = qobject_cast<Window*>(modal)) {
            act(*window);
        } else if (std::chrono::steady_clock::now() >= deadline) {
            ADD_FAILURE() << "no " << Window::staticMetaObject.className() << " came up within "
                          << kModalDeadline.count() << " s"
                          << (modal != nullptr ? "; closed the modal window that was up" : "");
            if (modal != nullptr) {
                modal->close();
            }
        } else if (auto again = self.lock()) {
            QTimer::singleShot(1, [again] { (*again)(); });
        }
    };
    QTimer::singleShot(0, [poll] { (*poll)(); });
}

template <typename Dialog>
void WhenModal(std::function<void(Dialog&)> act) {
    WhenUp<Dialog>(&QApplication::activeModalWidget, std::move(act));
}

inline void WhenPopup(std::function<void(QMenu&)> act) {
    WhenUp<QMenu>(&QApplication::activePopupWidget, std::move(act));
}

// Where the view shows a row of the list (sorted lists show their rows in another order); the
// number of rows shown when it does not show it.
inline int ViewPlace(const CListCtrl& list, std::size_t row) {
    std::size_t place = 0;
    while (place < list.GetShownCount() && list.RowAtViewPlace(place) != row) {
        ++place;
    }
    return static_cast<int>(place);
}

// SLP calls that find nothing without touching the network: the window's discovery passes end
// at once, and nothing is multicast from a test that runs outside a network namespace.
inline CSlpFunctions OfflineSlp() {
    CSlpFunctions slp = CSlpFunctions::Library();
    slp.open = [](const char*, SLPBoolean, SLPHandle* handle) {
        *handle = nullptr;
        return SLP_NETWORK_INIT_FAILED;
    };
    return slp;
}

// A main window whose boxes are answered (and recorded) by the test, with discovery offline.
class CTestMainWindow {
public:
    explicit CTestMainWindow(COrvaneSrvApp::CServiceHooks service = {})
        : m_app(std::move(service)),
          m_dialog(m_app, std::make_unique<CRegistryHive>(RegistryFile())) {
        m_dialog.SetDiscoverySlp(OfflineSlp());
        m_dialog.MessageBoxes()->SetAnswerer([this](const CMessageBoxRequest& r) {
            m_boxes.push_back(r);
            return std::optional(CQtMessageBoxes::DefaultAnswer(r.buttons));
        });
    }
    COrvaneSrvDlg& operator*() { return m_dialog; }
    COrvaneSrvDlg* operator->() { return &m_dialog; }
    const std::vector<CMessageBoxRequest>& Boxes() const { return m_boxes; }
    // The window's directory store, for reading it through a connection of the test's own.
    std::filesystem::path RegistryFile() const { return m_store / "registry.db"; }

private:
    CTempDir m_store;
    std::vector<CMessageBoxRequest> m_boxes;
    COrvaneSrvApp m_app;
    COrvaneSrvDlg m_dialog;
};
