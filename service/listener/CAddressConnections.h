// The connections each client IPv4 address holds at once, so that one host cannot take every
// connection slot: beyond the limit, a new connection from that address is refused (the caller
// closes it at once). A run of refusals of one address is reported once: only the first
// refusal after the address was last under its limit says so. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>

class CAddressConnections {
public:
    enum class ETake {
        Taken,
        Refused,      // the address is at its limit
        FirstRefused, // the same, and the first refusal since it was last under its limit
    };

    explicit CAddressConnections(std::size_t nMaxPerAddress);

    // Counts a new connection from the address unless it is at its limit.
    ETake Take(uint32_t address);
    // Ends a connection counted by Take.
    void Give(uint32_t address);

private:
    struct CEntry {
        std::size_t nHeld = 0;
        bool bRefusing = false;
    };

    const std::size_t m_nMaxPerAddress;
    std::mutex m_mutex;
    std::unordered_map<uint32_t, CEntry> m_entries; // addresses holding a connection
};
