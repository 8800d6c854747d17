// What a process knows of SLP directory agents: those its configuration names
// (net.slp.DAAddresses), and, when net.slp.activeDADetection is on, those that answered active
// discovery (a multicast request for "service:directory-agent" in the configured scopes), each
// with its scopes and boot timestamp. An answer counts only when its URL names the address it
// came from, and at most kCapacity such agents are kept (the one known longest goes first);
// adverts that nobody asked for are never read. Searches ask it which agents to send a request to;
// an agent that does not answer is reported back and, if discovered, forgotten until a discovery
// finds it again.
//
// Discovery is made by the search that needs it, when none was made yet or the last one is
// older than net.slp.DAActiveDiscoveryInterval (or when the last known agent was forgotten).
// It must not hold that search long where there is no agent: it waits for the first agent's
// advert, and a moment more for others answering with it, but never longer than one short
// step (kDiscoveryWait, or the first multicast timeout when that is shorter). Its outcome,
// agents or none, is kept for the interval. Searches of other threads meanwhile wait for that
// outcome, which the same bound limits. The process's instance is g_slpDirectoryAgents; a test
// can make its own and hand it to a handle.
#pragma once

#include "platform/slp/CSlpConfig.h"
#include "platform/slp/SlpMessages.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SlpDirectoryAgent {
    sockaddr_in address{};
    std::string url;
    std::vector<std::string> scopes; // folded; the agent serves these
    std::uint32_t bootTimestamp = 0;
};

class CSlpDirectoryAgents {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kDiscoveryWait{250};
    static constexpr std::chrono::milliseconds kSettle{25};
    static constexpr const char* kServiceType = "service:directory-agent";
    static constexpr std::size_t kCapacity = 8;

    // The agents a request in these scopes goes to, in order: the configured ones, then the
    // discovered ones that serve every scope of the request. Discovers first when it is due.
    std::vector<sockaddr_in> For(const CSlpConfig& config, std::string_view language,
                                 std::string_view scopeList);

    // An agent that did not answer. A discovered one is forgotten; when it was the last one,
    // the next request looks for agents again.
    void Failed(const sockaddr_in& agent);

    // Takes in one advert: a new agent is remembered, a known one gets its new boot timestamp
    // and scopes, and one that says it is going down (boot timestamp 0) is forgotten. An advert
    // whose URL does not name the sender's address is passed over.
    void Learn(const SlpDAAdvert& advert, const sockaddr_in& from, std::uint16_t port);

    std::vector<SlpDirectoryAgent> Known() const;

private:
    bool DiscoveryDue(const CSlpConfig& config, Clock::time_point now) const;
    void Discover(const CSlpConfig& config, std::string_view language);
    void Remove(const sockaddr_in& agent); // with the mutex held

    mutable std::mutex m_mutex;
    std::condition_variable m_discoveryEnded;
    bool m_bDiscovering = false;
    std::optional<Clock::time_point> m_lastDiscovery; // none: the next request discovers
    std::vector<SlpDirectoryAgent> m_listAgents;
};

extern CSlpDirectoryAgents& g_slpDirectoryAgents;
