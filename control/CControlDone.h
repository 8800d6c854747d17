// How a control request is answered: once, with its reply, from the window thread. It also tells
// whether the peer is still there: orvanectl ended (Ctrl+C, a closed terminal) before its answer
// hangs up, and a command that would go on working for nobody (a login's queued arrays) hears
// of it and lets that work go.
#pragma once

#include "control/ControlProtocol.h"
#include "platform/ui/IWindowThread.h"

#include <concepts>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

class CControlDone {
public:
    using CAnswer = std::function<void(CControlReply)>;

    // Set by the connection's thread when the peer hangs up before its answer.
    class CHangUp {
    public:
        explicit CHangUp(std::shared_ptr<IWindowThread> window) : m_pWindow(std::move(window)) {}
        // Any thread, once; the callback (if any) is posted to the window thread.
        void Fire();
        // Window thread; onGone is posted at once when the peer is gone already.
        void WhenGone(std::function<void()> onGone);

    private:
        std::shared_ptr<IWindowThread> m_pWindow;
        std::mutex m_mutex;
        bool m_bGone = false;
        std::function<void()> m_onGone;
    };

    CControlDone() = default;
    CControlDone(std::nullptr_t) {} // NOLINT(google-explicit-constructor): as an empty function
    // Any callable taking the reply, as a plain function; such a request never hears a hang-up.
    template <typename F>
    requires std::invocable<F&, CControlReply> &&
        (!std::same_as<std::remove_cvref_t<F>, CControlDone>)
            CControlDone(F answer) // NOLINT(google-explicit-constructor)
        : m_answer(std::move(answer)) {}
    CControlDone(CAnswer answer, std::shared_ptr<CHangUp> hangUp)
        : m_answer(std::move(answer)), m_pHangUp(std::move(hangUp)) {}

    void operator()(CControlReply reply) const { m_answer(std::move(reply)); }
    explicit operator bool() const { return static_cast<bool>(m_answer); }

    // Window thread: onGone runs on the window thread if the peer hangs up before its answer.
    void WhenGone(std::function<void()> onGone) const;

private:
    CAnswer m_answer;
    std::shared_ptr<CHangUp> m_pHangUp;
};
