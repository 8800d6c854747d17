// The directory-agent side of the simulated arrays' service agents: every array registers its
// URL and attributes with every directory agent it knows (SrvReg with a lifetime and the fresh
// flag), again before the lifetime runs out, again at once when an agent's advert shows that
// it rebooted, and deregisters at exit (SrvDeReg). Agents are named on the command line or
// learnt from DAAdverts: unsolicited ones (passive discovery) and those answering the
// multicast request that DiscoveryRequest builds (active discovery). An agent whose advert
// says it is going down is left alone until it advertises again.
//
// Pure logic: the server hands in what arrives and sends what Due returns. At most kWindow
// messages to one agent wait for their acknowledgement at a time, so that a fleet of thousands
// starting at once does not flood an agent's socket; an unacknowledged one is sent again
// after kRetry, doubling, and given up after kRetryMax until the agent's next advert.
#pragma once

#include "platform/slp/SlpMessages.h"
#include "tools/array-sim/CArrayConfig.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <netinet/in.h>
#include <unordered_map>
#include <vector>

class CSimRegistrar {
public:
    using Clock = std::chrono::steady_clock;
    using Message = std::vector<std::uint8_t>;
    struct Outgoing {
        sockaddr_in to{};
        Message bytes;
    };

    static constexpr std::size_t kWindow = 64;
    static constexpr std::chrono::milliseconds kRetry{2000};
    static constexpr std::chrono::milliseconds kRetryMax{15000};

    CSimRegistrar(const std::vector<CArrayConfig>& arrays, std::uint16_t slpPort,
                  std::uint16_t lifetime);

    // An agent named on the command line; wallNow is the time (seconds since 1970), to tell
    // later whether the agent has rebooted since.
    void AddAgent(const sockaddr_in& agent, std::uint32_t wallNow);
    void OnAdvert(const SlpDAAdvert& advert, const sockaddr_in& from, std::uint32_t wallNow);
    void OnAck(const SlpHeader& header, const SlpSrvAck& ack, Clock::time_point now);
    // From now on only deregistrations are sent, for what is registered.
    void BeginLeaving();

    std::vector<Outgoing> Due(Clock::time_point now);
    // Multicast request for directory agents in the arrays' scopes.
    Message DiscoveryRequest() const;

    // Registrations acknowledged; while leaving, deregistrations still to be acknowledged.
    std::size_t Registered() const;
    std::size_t Leaving() const;

private:
    enum class State { Pending, Sent, Registered, Refused, Gone };
    struct Slot {
        State state = State::Pending;
        std::uint16_t xid = 0;
        Clock::time_point next{}; // when to send (again)
        std::chrono::milliseconds wait{0};
    };
    struct Agent {
        sockaddr_in address{};
        bool bKnownBoot = false;
        std::uint32_t bootTimestamp = 0;
        std::uint32_t since = 0; // wall time when registering with it began
        bool bDown = false;
        std::vector<std::string> scopes; // empty: not known, every array tries
        std::vector<Slot> slots;         // one per array
        std::size_t inFlight = 0;
    };

    Agent& AgentAt(const sockaddr_in& address, std::uint32_t wallNow);
    void RegisterAll(Agent& agent);
    Message Build(const Agent& agent, std::size_t array, std::uint16_t xid) const;
    void Send(Agent& agent, std::size_t index, Clock::time_point now, std::vector<Outgoing>& out);

    const std::vector<CArrayConfig>& m_arrArrays;
    std::uint16_t m_nPort;
    std::uint16_t m_nLifetime;
    bool m_bLeaving = false;
    std::uint16_t m_nNextXid = 1;
    std::vector<Agent> m_listAgents;
    std::unordered_map<std::uint16_t, std::pair<std::size_t, std::size_t>> m_mapXids;
};
