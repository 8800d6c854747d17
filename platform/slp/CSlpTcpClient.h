// One request over TCP to an agent, for replies too large for a datagram: connect, send the
// request, read back one whole message as its header announces it.
#pragma once

#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <span>
#include <vector>

class CSlpTcpClient {
public:
    static std::optional<std::vector<std::uint8_t>> Exchange(std::span<const std::uint8_t> request,
                                                             const sockaddr_in& to,
                                                             std::chrono::milliseconds timeout);
};
