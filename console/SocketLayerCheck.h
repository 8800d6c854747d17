// The start-up check of the socket layer: the credential service and the login need TCP sockets,
// so a machine where none can be made gets the message "Windows sockets initialization failed."
// and the program ends.
#pragma once

#include "platform/ui/IMessageBoxes.h"

#include <functional>

// True when an IPv4 TCP socket can be made.
bool CanCreateSocket();

// True when the layer is usable; otherwise shows the message (OK button) and answers false.
bool CheckSocketLayer(IMessageBoxes& boxes,
                      const std::function<bool()>& canCreateSocket = CanCreateSocket);
