// One request over TCP to an agent, for replies too large for a datagram: connect, send the
// request, read back one whole message as its header announces it, all by one deadline.
#pragma once

#include "platform/io/PollWait.h"

#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <span>
#include <vector>

class CSlpTcpClient {
public:
    static std::optional<std::vector<std::uint8_t>> Exchange(std::span<const std::uint8_t> request,
                                                             const sockaddr_in& to,
                                                             PollClock::time_point deadline);
};
