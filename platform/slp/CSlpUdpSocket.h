// The user agent's UDP socket: one per search, bound to an ephemeral port, with a receive
// buffer large enough for a burst of replies from hundreds of agents at once.
#pragma once

#include "platform/io/CUniqueFd.h"

#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct SlpDatagram {
    std::vector<std::uint8_t> bytes;
    sockaddr_in from{};
};

class CSlpUdpSocket {
public:
    CSlpUdpSocket() = default;
    CSlpUdpSocket(const CSlpUdpSocket&) = delete;
    CSlpUdpSocket& operator=(const CSlpUdpSocket&) = delete;

    // An IPv4 address literal and port as a socket address; nullopt for anything else.
    static std::optional<sockaddr_in> Address(const std::string& host, std::uint16_t port);

    bool Open(int multicastTtl, bool broadcast);
    // Selects the interface, by its address, that the next multicast leaves from.
    bool SetMulticastInterface(in_addr address);
    bool SendTo(std::span<const std::uint8_t> bytes, const sockaddr_in& to);
    // Waits at most until the deadline; nullopt when nothing arrived by then. A deadline in the
    // past still takes a datagram that is already queued.
    std::optional<SlpDatagram> Receive(std::chrono::steady_clock::time_point deadline);

private:
    CUniqueFd m_fd;
    std::vector<std::uint8_t> m_arrBuffer;
};
