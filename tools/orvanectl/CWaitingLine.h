// While orvanectl waits for a reply that takes long (a login to hundreds of arrays, a discovery
// pass), a line on standard error says what for, how far it has come where the running copy
// tells it (a login's arrays answered) and how long it has waited, rewritten in place each second
// and cleared once the answer is there. Only on a terminal: a script's standard error gets
// nothing.
#pragma once

#include "control/ControlProtocol.h"

#include <chrono>
#include <optional>

class CWaitingLine {
public:
    // what: "logging in", say; null for a reply that comes at once.
    explicit CWaitingLine(const char* what);
    ~CWaitingLine();
    CWaitingLine(const CWaitingLine&) = delete;
    CWaitingLine& operator=(const CWaitingLine&) = delete;

    // How long to wait for the socket before the line is due again (-1: it never is).
    int PollTimeoutMs() const { return m_what != nullptr ? kTickMs : -1; }
    // Whether the line is shown at all: only then is progress worth asking for.
    bool IsShown() const { return m_what != nullptr; }
    void Tick();
    // The running copy's latest count, shown at once.
    void Show(ControlProtocol::CControlProgress progress);

private:
    static constexpr int kTickMs = 1000;
    const char* m_what;
    std::chrono::steady_clock::time_point m_start;
    int m_nWidth = 0;
    std::optional<ControlProtocol::CControlProgress> m_progress;
};
