// How a control request is answered: once, with its reply, from the window thread. It also tells
// whether the peer is still there: orvanectl ended (Ctrl+C, a closed terminal) before its answer
// hangs up, and a command that would go on working for nobody (a login's queued arrays) hears
// of it and lets that work go. A peer that asked for it hears how far a long command has come.
#pragma once

#include "control/ControlProtocol.h"
#include "platform/ui/IWindowThread.h"

#include <concepts>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

class CControlDone {
public:
    using CAnswer = std::function<void(CControlReply)>;

    // What the connection's thread and the request share of the peer.
    class CPeer {
    public:
        CPeer(std::shared_ptr<IWindowThread> window, bool bWantsProgress)
            : m_pWindow(std::move(window)), m_bWantsProgress(bWantsProgress) {}
        // The connection's thread, when the peer hangs up before its answer; the callback (if
        // any) is posted to the window thread, once.
        void HangUp();
        // Window thread; onGone is posted at once when the peer is gone already.
        void WhenGone(std::function<void()> onGone);
        // Any thread: the latest progress, for the connection's thread to send.
        void SetProgress(ControlProtocol::CControlProgress progress);
        std::optional<ControlProtocol::CControlProgress> TakeProgress();

    private:
        std::shared_ptr<IWindowThread> m_pWindow;
        const bool m_bWantsProgress;
        std::mutex m_mutex;
        bool m_bGone = false;
        std::function<void()> m_onGone;
        std::optional<ControlProtocol::CControlProgress> m_progress;
    };

    CControlDone() = default;
    CControlDone(std::nullptr_t) {} // NOLINT(google-explicit-constructor): as an empty function
    // Any callable taking the reply, as a plain function; such a request never hears a hang-up.
    template <typename F>
    requires std::invocable<F&, CControlReply> &&
        (!std::same_as<std::remove_cvref_t<F>, CControlDone>)
            CControlDone(F answer) // NOLINT(google-explicit-constructor)
        : m_answer(std::move(answer)) {}
    CControlDone(CAnswer answer, std::shared_ptr<CPeer> peer)
        : m_answer(std::move(answer)), m_pPeer(std::move(peer)) {}

    void operator()(CControlReply reply) const { m_answer(std::move(reply)); }
    // The same peer answered otherwise (a command that adds to its reply on the way).
    CControlDone WithAnswer(CAnswer answer) const { return {std::move(answer), m_pPeer}; }
    explicit operator bool() const { return static_cast<bool>(m_answer); }

    // Window thread: onGone runs on the window thread if the peer hangs up before its answer.
    void WhenGone(std::function<void()> onGone) const;
    // Any thread: nDone of nTotal parts answered; told to a peer that asked for it.
    void Progress(std::size_t nDone, std::size_t nTotal) const;

private:
    CAnswer m_answer;
    std::shared_ptr<CPeer> m_pPeer;
};
