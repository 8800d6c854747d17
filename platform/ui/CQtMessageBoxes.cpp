#include "platform/ui/CQtMessageBoxes.h"

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <array>
#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

// One box's answer: a worker waits on it until the answer is in.
struct CQtMessageBoxes::CPending {
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<EMessageAnswer> answer;

    void Answer(EMessageAnswer a) {
        std::lock_guard lock(mutex);
        if (!answer) {
            answer = a;
            answered.notify_all();
        }
    }
    EMessageAnswer Wait() {
        std::unique_lock lock(mutex);
        answered.wait(lock, [this] { return answer.has_value(); });
        return *answer;
    }
};

namespace {

QMessageBox::Icon ToQt(EMessageIcon icon) {
    // In the order of EMessageIcon.
    constexpr std::array kIcons = {QMessageBox::NoIcon, QMessageBox::Warning, QMessageBox::Critical,
                                   QMessageBox::Question};
    return kIcons.at(static_cast<std::size_t>(icon));
}

EMessageAnswer FromQt(int button, EMessageButtons buttons) {
    if (buttons == EMessageButtons::YesNo) {
        return button == QMessageBox::No ? EMessageAnswer::No : EMessageAnswer::Yes;
    }
    return EMessageAnswer::Ok;
}

} // namespace

// Window-thread state; workers reach it only through work sent to the window thread, except for
// the closed flag.
struct CQtMessageBoxes::CState {
    std::atomic<bool> bClosed{false};
    QPointer<QWidget> owner;
    CAnswerer answerer;
    struct COpenBox {
        QPointer<QMessageBox> box;
        std::shared_ptr<CPending> pending;
        EMessageButtons buttons;
    };
    std::list<COpenBox> open;
};

CQtMessageBoxes::CQtMessageBoxes(std::shared_ptr<IWindowThread> window)
    : m_pWindow(std::move(window)), m_pState(std::make_shared<CState>()) {}

CQtMessageBoxes::~CQtMessageBoxes() {
    Close();
}

void CQtMessageBoxes::SetOwner(QWidget* owner) {
    m_pState->owner = owner;
}

void CQtMessageBoxes::SetAnswerer(CAnswerer answerer) {
    m_pState->answerer = std::move(answerer);
}

std::size_t CQtMessageBoxes::OpenCount() const {
    return m_pState->open.size();
}

std::unique_ptr<QMessageBox> CQtMessageBoxes::MakeBox(const CMessageBoxRequest& request,
                                                      QWidget* owner) {
    auto box = std::make_unique<QMessageBox>(
        ToQt(request.icon), QString::fromStdU16String(request.caption),
        QString::fromStdU16String(request.text),
        request.buttons == EMessageButtons::YesNo ? QMessageBox::Yes | QMessageBox::No
                                                  : QMessageBox::Ok,
        owner);
    // A question's answer that changes something is never the one Enter gives by accident.
    box->setDefaultButton(request.buttons == EMessageButtons::YesNo ? QMessageBox::No
                                                                    : QMessageBox::Ok);
    return box;
}

void CQtMessageBoxes::Open(const std::shared_ptr<CState>& state, const CMessageBoxRequest& request,
                           const std::shared_ptr<CPending>& pending) {
    const EMessageAnswer fallback = DefaultAnswer(request.buttons);
    if (state->bClosed) {
        pending->Answer(fallback);
        return;
    }
    if (state->answerer) {
        if (const auto answer = state->answerer(request)) {
            pending->Answer(*answer);
            return;
        }
    }
    std::unique_ptr<QMessageBox> box = MakeBox(request, state->owner);
    const EMessageButtons buttons = request.buttons;
    if (!request.bFromWorker) {
        pending->Answer(FromQt(box->exec(), buttons));
        return;
    }
    // A worker's box: shown without a loop of its own, so that other boxes and the window's
    // events go on; it deletes itself when closed, or Close() deletes it.
    QMessageBox* shown = box.release();
    shown->setAttribute(Qt::WA_DeleteOnClose);
    state->open.push_back({shown, pending, buttons});
    const auto entry = std::prev(state->open.end());
    QObject::connect(shown, &QMessageBox::finished, shown, [state, entry, buttons](int result) {
        entry->pending->Answer(FromQt(result, buttons));
        state->open.erase(entry);
    });
    shown->open();
}

EMessageAnswer CQtMessageBoxes::Show(std::u16string_view text, std::u16string_view caption,
                                     EMessageIcon icon, EMessageButtons buttons) {
    if (m_pState->bClosed) {
        return DefaultAnswer(buttons);
    }
    CMessageBoxRequest request{std::u16string(text),
                               std::u16string(caption.empty() ? kProgramName : caption), icon,
                               buttons, false};
    auto pending = std::make_shared<CPending>();
    const std::thread::id caller = std::this_thread::get_id();
    const bool bSent = m_pWindow->Send([&, state = m_pState] {
        // Run here by the caller itself when it is the window thread.
        request.bFromWorker = std::this_thread::get_id() != caller;
        Open(state, request, pending);
    });
    if (!bSent) {
        return DefaultAnswer(buttons); // the window has gone away
    }
    return pending->Wait();
}

void CQtMessageBoxes::Close() {
    m_pState->bClosed = true;
    // Answer first, then close: a closed box's own answer must not replace the default.
    for (CState::COpenBox& entry : m_pState->open) {
        entry.pending->Answer(DefaultAnswer(entry.buttons));
    }
    std::list<CState::COpenBox> open;
    open.swap(m_pState->open);
    for (CState::COpenBox& entry : open) {
        if (entry.box) {
            QObject::disconnect(entry.box, nullptr, nullptr, nullptr);
            const std::unique_ptr<QMessageBox> doomed(entry.box.data());
        }
    }
}
