// Tells the service manager (systemd, for a unit of Type=notify) how the program's start and
// stop go. Without a manager waiting for word (no NOTIFY_SOCKET), or in a build without
// libsystemd, every call does nothing.
#pragma once

#include <string_view>

// The program serves: start-up is over. status is a short line for "systemctl status".
void NotifyServiceReady(std::string_view status);
// The program has begun its orderly stop.
void NotifyServiceStopping();
