// Message boxes on Qt. On the window thread a box is modal and answers when the operator closes
// it. From a worker the box is opened on the window thread (through the window thread queue) and
// the worker waits for its answer; several such boxes may be open at once, and the window thread
// goes on with its events meanwhile. Close() (window thread, when the window goes away) answers
// every open box with its default button and makes every later call answer so at once.
//
// Tests set an answerer: it is asked on the window thread in place of showing the box, sees what
// would have been shown, and answers (or leaves the box open by answering nothing).
#pragma once

#include "platform/ui/IMessageBoxes.h"
#include "platform/ui/IWindowThread.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QMessageBox;
class QWidget;

struct CMessageBoxRequest {
    std::u16string text;
    std::u16string caption;
    EMessageIcon icon = EMessageIcon::None;
    EMessageButtons buttons = EMessageButtons::Ok;
    bool bFromWorker = false;
};

class CQtMessageBoxes : public IMessageBoxes {
public:
    using CAnswerer = std::function<std::optional<EMessageAnswer>(const CMessageBoxRequest&)>;

    // Constructed on the window thread. window carries workers' boxes to it.
    explicit CQtMessageBoxes(std::shared_ptr<IWindowThread> window);
    ~CQtMessageBoxes() override;
    CQtMessageBoxes(const CQtMessageBoxes&) = delete;
    CQtMessageBoxes& operator=(const CQtMessageBoxes&) = delete;

    using IMessageBoxes::Show;
    EMessageAnswer Show(std::u16string_view text, std::u16string_view caption, EMessageIcon icon,
                        EMessageButtons buttons) override;

    // Window thread. The window the boxes belong to (centred on it); nullptr for none.
    void SetOwner(QWidget* owner);
    void SetAnswerer(CAnswerer answerer);
    void Close();
    // Window thread: how many boxes opened from workers are showing.
    std::size_t OpenCount() const;

    // The box a request shows, not shown yet (the picture generator draws it as it is).
    static std::unique_ptr<QMessageBox> MakeBox(const CMessageBoxRequest& request, QWidget* owner);

private:
    struct CState;
    struct CPending;

    // Window thread: answers request at once, or opens its box.
    static void Open(const std::shared_ptr<CState>& state, const CMessageBoxRequest& request,
                     const std::shared_ptr<CPending>& pending);

    std::shared_ptr<IWindowThread> m_pWindow;
    std::shared_ptr<CState> m_pState;
};
