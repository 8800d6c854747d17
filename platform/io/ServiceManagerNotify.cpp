// The service manager's notifications through libsystemd, when the build has it.
#include "platform/io/ServiceManagerNotify.h"

#include <string>

#ifdef ORVANE_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace {

void Notify([[maybe_unused]] const std::string& state) {
#ifdef ORVANE_HAVE_SYSTEMD
    // The socket stays in the environment: the stop is reported through it later.
    sd_notify(0, state.c_str());
#endif
}

} // namespace

void NotifyServiceReady(std::string_view status) {
    Notify("READY=1\nSTATUS=" + std::string(status));
}

void NotifyServiceStopping() {
    Notify("STOPPING=1\nSTATUS=stopping");
}
