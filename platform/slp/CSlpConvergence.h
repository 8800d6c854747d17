// Sends one request and gathers the replies: multicast convergence with the previous-responder
// list (or broadcast, when so configured), a single quick multicast look, and unicast to one
// agent with retransmissions. When more agents have answered than one datagram's
// previous-responder list can name, retransmissions name as many as fit: the others answer
// again and are recognised, and an agent whose first answer was lost is never named, so it
// is asked again; the search ends when a retransmission brings nobody new. A
// reply that says it overflowed its datagram is fetched again over TCP from the same agent,
// once per agent and search, after the datagrams at hand are read. Replies are checked for
// version, function and XID before the caller sees them. Each search keeps one deadline for
// everything it does, TCP fetches included (net.slp.multicastMaximumWait for a multicast one,
// net.slp.unicastMaximumWait for a unicast one), so that no agent can stretch it. The time the
// caller's handler takes does not count against it: the deadlines move on by that much, so a
// slow handler never makes the search miss replies that came in time.
#pragma once

#include "platform/io/PollWait.h"
#include "platform/slp/CSlpConfig.h"
#include "platform/slp/CSlpUdpSocket.h"
#include "platform/slp/SlpMessages.h"
#include "platform/slp/slp.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <netinet/in.h>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CSlpConvergence {
public:
    // Builds the request with the given header (XID, flags, language set) and PR list.
    using Builder =
        std::function<std::vector<std::uint8_t>(const SlpHeader& header, std::string_view prList)>;
    enum class Verdict { More, Stop };
    // Sees each valid reply; returns Stop when the caller wants no more. A reply that still
    // carries the overflow flag is one whose whole could not be fetched: it is cut short.
    using Handler = std::function<Verdict(std::span<const std::uint8_t> message,
                                          const SlpHeader& header, const sockaddr_in& from)>;

    CSlpConvergence(const CSlpConfig& config, std::string language, SlpFunction replyFunction);

    // SLP_OK when the search ran its course or the handler stopped it.
    SLPError Multicast(const Builder& build, const Handler& handle);
    // One multicast request and no retransmission: replies are read for at most wait, and
    // only settle longer once the first one has come.
    SLPError Glance(const Builder& build, const Handler& handle, std::chrono::milliseconds wait,
                    std::chrono::milliseconds settle);
    // SLP_OK once one valid reply has been handled; SLP_NETWORK_TIMED_OUT when none came.
    SLPError Unicast(const sockaddr_in& to, const Builder& build, const Handler& handle);
    // From now on no search of this engine runs past end, whatever its own deadline.
    void Limit(PollClock::time_point end) { m_limit = end; }

    static std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }

private:
    enum class Outcome { Nothing, NewResponder, Stopped };

    void Begin(int maximumWaitMs);
    SlpHeader RequestHeader(std::uint16_t flags) const;
    bool SendMulticast(CSlpUdpSocket& socket, std::span<const std::uint8_t> request);
    Outcome Deliver(const SlpDatagram& datagram, const Handler& handle);
    // Calls the handler and moves the search's deadline on by the time it took.
    Verdict Hand(const Handler& handle, std::span<const std::uint8_t> message,
                 const SlpHeader& header, const sockaddr_in& from);
    // The handlers' time since the last call, for the running round's own deadline.
    PollClock::duration TakeSpent();
    // Fetches the replies that overflowed over TCP and hands each on, whole or cut short.
    Outcome FetchWhole(const Builder& build, const Handler& handle);
    std::optional<std::vector<std::uint8_t>> Fetch(const Builder& build,
                                                   const sockaddr_in& from) const;
    // The responders, as many as fit in budget bytes.
    std::string PrList(std::size_t budget) const;
    // Reads the replies already queued (ones that came in time while the handler was busy),
    // within the search's deadline.
    Outcome Drain(CSlpUdpSocket& socket, const Handler& handle);
    bool KnownResponder(const sockaddr_in& from) const;

    const CSlpConfig& m_config;
    std::string m_strLanguage;
    SlpFunction m_replyFunction;
    std::uint16_t m_nXid;
    std::vector<std::string> m_listResponders;
    PollClock::time_point m_end; // of the running search
    PollClock::time_point m_limit = PollClock::time_point::max();
    PollClock::duration m_spent{};            // in handlers, not yet taken by the round
    std::vector<SlpDatagram> m_arrOverflowed; // replies waiting for their TCP fetch
    std::vector<std::string> m_listFetched;   // agents fetched from in the running search
};
