#include "platform/slp/CSlpConvergence.h"

#include "platform/slp/CSlpMessageCodec.h"
#include "platform/slp/CSlpTcpClient.h"
#include "platform/slp/CSlpUdpSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <optional>
#include <random>
#include <utility>

namespace {

constexpr const char* kSlpMulticastGroup = "239.255.255.253";
constexpr std::size_t kIpUdpHeaderBytes = 28;

// Never 0: that is the XID of unsolicited messages (a directory agent's own announcement), which
// must not pass for a reply.
std::uint16_t RandomXid() {
    std::random_device device;
    std::uint16_t xid = 0;
    while (xid == 0) {
        xid = static_cast<std::uint16_t>(device());
    }
    return xid;
}

std::string AddressText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return text;
}

} // namespace

CSlpConvergence::CSlpConvergence(const CSlpConfig& config, std::string language,
                                 SlpFunction replyFunction)
    : m_config(config), m_strLanguage(std::move(language)), m_replyFunction(replyFunction),
      m_nXid(RandomXid()) {}

SlpHeader CSlpConvergence::RequestHeader(std::uint16_t flags) const {
    SlpHeader header;
    header.flags = flags;
    header.xid = m_nXid;
    header.language = m_strLanguage;
    return header;
}

std::string CSlpConvergence::PrList(std::size_t budget) const {
    std::string list;
    for (const std::string& responder : m_listResponders) {
        const std::size_t added = responder.size() + (list.empty() ? 0 : 1);
        if (list.size() + added > budget) {
            break;
        }
        if (!list.empty()) {
            list += ',';
        }
        list += responder;
    }
    return list;
}

bool CSlpConvergence::KnownResponder(const sockaddr_in& from) const {
    std::string text = AddressText(from);
    return std::find(m_listResponders.begin(), m_listResponders.end(), text) !=
           m_listResponders.end();
}

bool CSlpConvergence::SendMulticast(CSlpUdpSocket& socket, std::span<const std::uint8_t> request) {
    std::string target =
        m_config.m_bBroadcastOnly ? m_config.m_strBroadcastAddr : std::string(kSlpMulticastGroup);
    std::optional<sockaddr_in> to = CSlpUdpSocket::Address(target, m_config.m_nPort);
    if (!to) {
        return false;
    }
    if (m_config.m_listInterfaces.empty() || m_config.m_bBroadcastOnly) {
        return socket.SendTo(request, *to);
    }
    bool anySent = false;
    for (const std::string& name : m_config.m_listInterfaces) {
        in_addr interface {};
        if (::inet_pton(AF_INET, name.c_str(), &interface) == 1 &&
            socket.SetMulticastInterface(interface) && socket.SendTo(request, *to)) {
            anySent = true;
        }
    }
    return anySent;
}

void CSlpConvergence::Begin(int maximumWaitMs) {
    m_spent = PollClock::duration::zero();
    m_end = std::min(Now() + std::chrono::milliseconds(maximumWaitMs), m_limit);
    m_arrOverflowed.clear();
    m_listFetched.clear();
}

CSlpConvergence::Verdict CSlpConvergence::Hand(const Handler& handle,
                                               std::span<const std::uint8_t> message,
                                               const SlpHeader& header, const sockaddr_in& from) {
    const PollClock::time_point before = Now();
    const Verdict verdict = handle(message, header, from);
    const PollClock::duration spent = Now() - before;
    m_end += spent;
    m_spent += spent;
    return verdict;
}

PollClock::duration CSlpConvergence::TakeSpent() {
    return std::exchange(m_spent, PollClock::duration::zero());
}

CSlpConvergence::Outcome CSlpConvergence::Deliver(const SlpDatagram& datagram,
                                                  const Handler& handle) {
    std::optional<SlpHeader> header = CSlpMessageCodec::DecodeHeader(datagram.bytes);
    if (!header || header->function != m_replyFunction || header->xid != m_nXid) {
        return Outcome::Nothing;
    }
    std::string address = AddressText(datagram.from);
    bool isNew = !KnownResponder(datagram.from);
    if (isNew) {
        m_listResponders.push_back(address);
    }
    const Outcome seen = isNew ? Outcome::NewResponder : Outcome::Nothing;
    if (header->Overflow()) {
        // One fetch per agent: a flood of such replies costs one connection, not one each.
        if (std::find(m_listFetched.begin(), m_listFetched.end(), address) == m_listFetched.end()) {
            m_listFetched.push_back(std::move(address));
            m_arrOverflowed.push_back(datagram);
        }
        return seen;
    }
    if (Hand(handle, datagram.bytes, *header, datagram.from) == Verdict::Stop) {
        return Outcome::Stopped;
    }
    return seen;
}

std::optional<std::vector<std::uint8_t>> CSlpConvergence::Fetch(const Builder& build,
                                                                const sockaddr_in& from) const {
    if (Now() >= m_end) {
        return std::nullopt;
    }
    // The whole reply again, by TCP to the agent's SLP port, without a PR list.
    sockaddr_in agent = from;
    agent.sin_port = htons(m_config.m_nPort);
    const auto deadline =
        std::min(m_end, Now() + std::chrono::milliseconds(m_config.m_nUnicastMaximumWait));
    std::optional<std::vector<std::uint8_t>> reply =
        CSlpTcpClient::Exchange(build(RequestHeader(0), ""), agent, deadline);
    if (!reply) {
        return std::nullopt;
    }
    std::optional<SlpHeader> header = CSlpMessageCodec::DecodeHeader(*reply);
    if (!header || header->function != m_replyFunction || header->xid != m_nXid ||
        header->Overflow()) {
        return std::nullopt;
    }
    return reply;
}

CSlpConvergence::Outcome CSlpConvergence::FetchWhole(const Builder& build, const Handler& handle) {
    std::vector<SlpDatagram> waiting = std::exchange(m_arrOverflowed, {});
    for (const SlpDatagram& cut : waiting) {
        std::optional<std::vector<std::uint8_t>> whole = Fetch(build, cut.from);
        const std::vector<std::uint8_t>& reply = whole ? *whole : cut.bytes;
        std::optional<SlpHeader> header = CSlpMessageCodec::DecodeHeader(reply);
        if (header && Hand(handle, reply, *header, cut.from) == Verdict::Stop) {
            return Outcome::Stopped;
        }
    }
    return Outcome::Nothing;
}

SLPError CSlpConvergence::Multicast(const Builder& build, const Handler& handle) {
    CSlpUdpSocket socket;
    if (!socket.Open(m_config.m_nMulticastTTL, m_config.m_bBroadcastOnly)) {
        return SLP_NETWORK_INIT_FAILED;
    }
    const std::size_t maxRequest =
        static_cast<std::size_t>(m_config.m_nMTU) > kIpUdpHeaderBytes
            ? static_cast<std::size_t>(m_config.m_nMTU) - kIpUdpHeaderBytes
            : 0;
    Begin(m_config.m_nMulticastMaximumWait);
    const std::uint16_t flags = kSlpFlagMulticast; // set for broadcast too
    for (std::size_t round = 0; round < m_config.m_arrMulticastTimeouts.size(); ++round) {
        if (Now() >= m_end) {
            break;
        }
        const std::vector<std::uint8_t> bare = build(RequestHeader(flags), "");
        if (bare.empty()) {
            return SLP_PARAMETER_BAD;
        }
        // A request too large for a datagram even without a PR list is sent only once.
        if (bare.size() > maxRequest && round > 0) {
            break;
        }
        const std::size_t budget = maxRequest > bare.size() ? maxRequest - bare.size() : 0;
        std::vector<std::uint8_t> request = build(RequestHeader(flags), PrList(budget));
        if (!SendMulticast(socket, request)) {
            return round == 0 ? SLP_NETWORK_ERROR : SLP_OK;
        }
        auto deadline = std::min(
            Now() + std::chrono::milliseconds(m_config.m_arrMulticastTimeouts[round]), m_end);
        bool newInRound = false;
        TakeSpent();
        while (std::optional<SlpDatagram> datagram = socket.Receive(deadline)) {
            Outcome outcome = Deliver(*datagram, handle);
            if (outcome == Outcome::Stopped) {
                return SLP_OK;
            }
            deadline += TakeSpent(); // the caller's time is not the round's
            newInRound = newInRound || outcome == Outcome::NewResponder;
            // Replies that keep coming must not hold the round past its deadline.
            if (Now() >= deadline) {
                break;
            }
        }
        if (FetchWhole(build, handle) == Outcome::Stopped) {
            return SLP_OK;
        }
        // While nobody has answered yet, the whole schedule is tried; after that, a
        // retransmission that brings no new agent ends the search.
        if (round > 0 && !m_listResponders.empty() && !newInRound) {
            break;
        }
    }
    if (Drain(socket, handle) != Outcome::Stopped) {
        FetchWhole(build, handle);
    }
    return SLP_OK;
}

CSlpConvergence::Outcome CSlpConvergence::Drain(CSlpUdpSocket& socket, const Handler& handle) {
    while (Now() < m_end) {
        std::optional<SlpDatagram> datagram = socket.Receive(Now());
        if (!datagram) {
            break;
        }
        if (Deliver(*datagram, handle) == Outcome::Stopped) {
            return Outcome::Stopped;
        }
    }
    return Outcome::Nothing;
}

SLPError CSlpConvergence::Glance(const Builder& build, const Handler& handle,
                                 std::chrono::milliseconds wait, std::chrono::milliseconds settle) {
    CSlpUdpSocket socket;
    if (!socket.Open(m_config.m_nMulticastTTL, m_config.m_bBroadcastOnly)) {
        return SLP_NETWORK_INIT_FAILED;
    }
    std::vector<std::uint8_t> request = build(RequestHeader(kSlpFlagMulticast), "");
    if (request.empty()) {
        return SLP_PARAMETER_BAD;
    }
    Begin(static_cast<int>(wait.count()));
    if (!SendMulticast(socket, request)) {
        return SLP_NETWORK_ERROR;
    }
    auto deadline = m_end;
    TakeSpent();
    while (std::optional<SlpDatagram> datagram = socket.Receive(deadline)) {
        if (Deliver(*datagram, handle) == Outcome::Stopped) {
            return SLP_OK;
        }
        deadline += TakeSpent();
        if (!m_listResponders.empty()) {
            deadline = std::min(deadline, Now() + settle);
        }
        if (Now() >= deadline) {
            break;
        }
    }
    return SLP_OK;
}

SLPError CSlpConvergence::Unicast(const sockaddr_in& to, const Builder& build,
                                  const Handler& handle) {
    CSlpUdpSocket socket;
    if (!socket.Open(m_config.m_nMulticastTTL, false)) {
        return SLP_NETWORK_INIT_FAILED;
    }
    std::vector<std::uint8_t> request = build(RequestHeader(0), "");
    if (request.empty()) {
        return SLP_PARAMETER_BAD;
    }
    Begin(m_config.m_nUnicastMaximumWait);
    bool anySent = false;
    for (int timeout : m_config.m_arrUnicastTimeouts) {
        if (Now() >= m_end) {
            break;
        }
        anySent = socket.SendTo(request, to) || anySent;
        auto deadline = std::min(Now() + std::chrono::milliseconds(timeout), m_end);
        while (std::optional<SlpDatagram> datagram = socket.Receive(deadline)) {
            if (datagram->from.sin_addr.s_addr == to.sin_addr.s_addr) {
                Outcome outcome = Deliver(*datagram, handle);
                if (outcome != Outcome::Stopped) {
                    FetchWhole(build, handle);
                }
                if (outcome != Outcome::Nothing || KnownResponder(datagram->from)) {
                    return SLP_OK;
                }
            }
            if (Now() >= deadline) {
                break;
            }
        }
    }
    return anySent ? SLP_NETWORK_TIMED_OUT : SLP_NETWORK_ERROR;
}
