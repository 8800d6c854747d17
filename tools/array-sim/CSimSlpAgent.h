// The SLP service agent side of a simulated array, as pure message logic: one request in, the
// array's replies out (none when it keeps quiet). Multicast requests get an answer only when
// there is something to say; unicast ones always get one, with an error code if need be.
#pragma once

#include "tools/array-sim/CArrayConfig.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class CSimSlpAgent {
public:
    using Message = std::vector<std::uint8_t>;

    // maxDatagram bounds a UDP reply (a larger one is cut and flagged as overflowed); 0 means
    // no bound, for replies over TCP.
    static std::vector<Message> Answer(const CArrayConfig& array,
                                       std::span<const std::uint8_t> request, bool multicast,
                                       std::size_t maxDatagram);

    // Malformed replies for a request: truncated, wrong version, wrong function, foreign XID,
    // lengths past the end, an impossible URL count, broken attribute escapes.
    static std::vector<Message> Garbage(std::span<const std::uint8_t> request);

    static constexpr const char* kServiceType = "service:raid.004417";
};
