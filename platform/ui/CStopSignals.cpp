#include "platform/ui/CStopSignals.h"

#include <csignal>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

CStopSignals::CStopSignals() {
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    m_fd = CUniqueFd(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!m_fd) {
        // Without the descriptor the signals would be lost: let them act as before.
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
}

void CStopSignals::OnStop(std::function<void()> onStop) {
    m_onStop = std::move(onStop);
    if (!m_fd || m_pNotifier) {
        return;
    }
    m_pNotifier = std::make_unique<QSocketNotifier>(m_fd.Get(), QSocketNotifier::Read);
    QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, m_pNotifier.get(), [this] {
        signalfd_siginfo info;
        while (::read(m_fd.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            if (m_onStop) {
                m_onStop();
            }
        }
    });
}
