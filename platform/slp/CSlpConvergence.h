// Sends one request and gathers the replies: multicast convergence with the previous-responder
// list (or broadcast, when so configured) and unicast to one agent with retransmissions. A
// reply that says it overflowed its datagram is fetched again over TCP from the same agent.
// Replies are checked for version, function and XID before the caller sees them.
#pragma once

#include "platform/slp/CSlpConfig.h"
#include "platform/slp/SlpMessages.h"
#include "platform/slp/slp.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <netinet/in.h>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CSlpUdpSocket;

class CSlpConvergence {
public:
    // Builds the request with the given header (XID, flags, language set) and PR list.
    using Builder =
        std::function<std::vector<std::uint8_t>(const SlpHeader& header, std::string_view prList)>;
    enum class Verdict { More, Stop };
    // Sees each valid reply; returns Stop when the caller wants no more.
    using Handler = std::function<Verdict(std::span<const std::uint8_t> message,
                                          const SlpHeader& header, const sockaddr_in& from)>;

    CSlpConvergence(const CSlpConfig& config, std::string language, SlpFunction replyFunction);

    // SLP_OK when the search ran its course or the handler stopped it.
    SLPError Multicast(const Builder& build, const Handler& handle);
    // SLP_OK once one valid reply has been handled; SLP_NETWORK_TIMED_OUT when none came.
    SLPError Unicast(const sockaddr_in& to, const Builder& build, const Handler& handle);

    static std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }

private:
    enum class Outcome { Nothing, NewResponder, Stopped };

    SlpHeader RequestHeader(std::uint16_t flags) const;
    bool SendMulticast(CSlpUdpSocket& socket, std::span<const std::uint8_t> request);
    Outcome Deliver(const std::vector<std::uint8_t>& bytes, const sockaddr_in& from,
                    const Builder& build, const Handler& handle);
    std::string PrList() const;
    bool KnownResponder(const sockaddr_in& from) const;

    const CSlpConfig& m_config;
    std::string m_strLanguage;
    SlpFunction m_replyFunction;
    std::uint16_t m_nXid;
    std::vector<std::string> m_listResponders;
};
