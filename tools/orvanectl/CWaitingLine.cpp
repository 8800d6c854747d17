// The waiting line; see CWaitingLine.h.
#include "tools/orvanectl/CWaitingLine.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

CWaitingLine::CWaitingLine(const char* what)
    : m_what(what != nullptr && ::isatty(STDERR_FILENO) != 0 ? what : nullptr),
      m_start(std::chrono::steady_clock::now()) {}

CWaitingLine::~CWaitingLine() {
    if (m_nWidth > 0) {
        std::fprintf(stderr, "\r%*s\r", m_nWidth, "");
    }
}

void CWaitingLine::Tick() {
    if (m_what == nullptr) {
        return;
    }
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - m_start)
            .count();
    const int width = m_progress ? std::fprintf(stderr, "\r%s: %zu of %zu answered, %lld s", m_what,
                                                m_progress->nDone, m_progress->nTotal,
                                                static_cast<long long>(seconds))
                                 : std::fprintf(stderr, "\r%s: waiting for the answers, %lld s",
                                                m_what, static_cast<long long>(seconds));
    m_nWidth = std::max(m_nWidth, width);
    std::fflush(stderr);
}

void CWaitingLine::Show(ControlProtocol::CControlProgress progress) {
    m_progress = progress;
    Tick();
}
