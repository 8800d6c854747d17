// The arrays' registrations with directory agents: one slot per agent and array, moved along by
// acknowledgements, adverts and time.
#include "tools/array-sim/CSimRegistrar.h"

#include "platform/slp/CSlpMessageCodec.h"
#include "platform/slp/CSlpServiceUrl.h"
#include "platform/text/TextUtil.h"
#include "tools/array-sim/CSimSlpAgent.h"

#include <algorithm>
#include <arpa/inet.h>
#include <optional>

namespace {

constexpr const char* kDirectoryAgentType = "service:directory-agent";
// A registration is renewed when this share of its lifetime is gone.
constexpr int kRenewNumerator = 3;
constexpr int kRenewDenominator = 4;

bool SameHost(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr;
}

} // namespace

CSimRegistrar::CSimRegistrar(const std::vector<CArrayConfig>& arrays, std::uint16_t slpPort,
                             std::uint16_t lifetime)
    : m_arrArrays(arrays), m_nPort(slpPort), m_nLifetime(lifetime) {}

CSimRegistrar::Agent& CSimRegistrar::AgentAt(const sockaddr_in& address, std::uint32_t wallNow) {
    auto known =
        std::find_if(m_listAgents.begin(), m_listAgents.end(),
                     [&address](const Agent& agent) { return SameHost(agent.address, address); });
    if (known != m_listAgents.end()) {
        return *known;
    }
    Agent agent;
    agent.address = address;
    agent.address.sin_port = htons(m_nPort);
    agent.since = wallNow;
    agent.slots.resize(m_arrArrays.size());
    m_listAgents.push_back(std::move(agent));
    RegisterAll(m_listAgents.back());
    return m_listAgents.back();
}

void CSimRegistrar::AddAgent(const sockaddr_in& agent, std::uint32_t wallNow) {
    AgentAt(agent, wallNow);
}

void CSimRegistrar::RegisterAll(Agent& agent) {
    for (std::size_t i = 0; i < agent.slots.size(); ++i) {
        Slot& slot = agent.slots[i];
        if (slot.state == State::Sent) {
            m_mapXids.erase(slot.xid);
        }
        const bool served =
            agent.scopes.empty() ||
            std::find(agent.scopes.begin(), agent.scopes.end(),
                      FoldWhiteSpaceLower(m_arrArrays[i].m_strScope)) != agent.scopes.end();
        slot = Slot{};
        slot.state = served ? State::Pending : State::Refused;
    }
    agent.inFlight = 0;
}

void CSimRegistrar::OnAdvert(const SlpDAAdvert& advert, const sockaddr_in& from,
                             std::uint32_t wallNow) {
    if (advert.errorCode != 0 || m_bLeaving) {
        return;
    }
    sockaddr_in address = from;
    if (std::optional<CSlpServiceUrl> url = CSlpServiceUrl::Parse(advert.url)) {
        in_addr named{};
        if (::inet_pton(AF_INET, url->m_strHost.c_str(), &named) == 1) {
            address.sin_addr = named;
        }
    }
    const bool isNew =
        std::none_of(m_listAgents.begin(), m_listAgents.end(),
                     [&address](const Agent& a) { return SameHost(a.address, address); });
    Agent& agent = AgentAt(address, wallNow);
    if (advert.bootTimestamp == 0) {
        agent.bDown = true; // going down: nothing to register with until it is back
        return;
    }
    std::vector<std::string> scopes;
    for (std::string_view scope : SplitList(advert.scopeList)) {
        scopes.push_back(FoldWhiteSpaceLower(scope));
    }
    // Without a timestamp seen before, a boot after registering began means a reboot since.
    const bool rebooted = agent.bKnownBoot ? advert.bootTimestamp != agent.bootTimestamp
                                           : advert.bootTimestamp >= agent.since;
    const bool wasDown = agent.bDown;
    // Scopes learnt for the first time change nothing already sent.
    const bool scopesChanged = agent.bKnownBoot && scopes != agent.scopes;
    agent.bKnownBoot = true;
    agent.bootTimestamp = advert.bootTimestamp;
    agent.bDown = false;
    agent.scopes = std::move(scopes);
    if (isNew || rebooted || wasDown || scopesChanged) {
        RegisterAll(agent);
        return;
    }
    // Any advert shows the agent is there: what it did not answer is tried again.
    for (Slot& slot : agent.slots) {
        if (slot.state == State::Refused) {
            slot = Slot{};
        }
    }
}

void CSimRegistrar::OnAck(const SlpHeader& header, const SlpSrvAck& ack, Clock::time_point now) {
    auto found = m_mapXids.find(header.xid);
    if (found == m_mapXids.end()) {
        return;
    }
    auto [agentIndex, array] = found->second;
    m_mapXids.erase(found);
    Agent& agent = m_listAgents[agentIndex];
    Slot& slot = agent.slots[array];
    if (slot.state != State::Sent) {
        return;
    }
    --agent.inFlight;
    if (m_bLeaving) {
        slot.state = State::Gone;
    } else if (ack.errorCode != 0) {
        slot.state = State::Refused;
    } else {
        slot.state = State::Registered;
        slot.next = now + std::chrono::seconds(m_nLifetime) * kRenewNumerator / kRenewDenominator;
    }
}

void CSimRegistrar::BeginLeaving() {
    m_bLeaving = true;
    m_mapXids.clear();
    for (Agent& agent : m_listAgents) {
        agent.inFlight = 0;
        for (Slot& slot : agent.slots) {
            const bool registered = slot.state == State::Registered || slot.state == State::Sent;
            slot = Slot{};
            slot.state = registered && !agent.bDown ? State::Pending : State::Gone;
        }
    }
}

CSimRegistrar::Message CSimRegistrar::Build(const Agent&, std::size_t array,
                                            std::uint16_t xid) const {
    const CArrayConfig& config = m_arrArrays[array];
    SlpHeader header;
    header.xid = xid;
    if (m_bLeaving) {
        return CSlpMessageCodec::Encode(
            header, SlpSrvDeReg{config.m_strScope, {0, config.ServiceUrl()}, ""});
    }
    header.flags = kSlpFlagFresh;
    return CSlpMessageCodec::Encode(header, SlpSrvReg{{m_nLifetime, config.ServiceUrl()},
                                                      CSimSlpAgent::kServiceType,
                                                      config.m_strScope,
                                                      config.AttributeList("")});
}

void CSimRegistrar::Send(Agent& agent, std::size_t index, Clock::time_point now,
                         std::vector<Outgoing>& out) {
    Slot& slot = agent.slots[index];
    if (slot.state != State::Sent) {
        slot.state = State::Sent;
        slot.xid = m_nNextXid++;
        slot.wait = kRetry;
        ++agent.inFlight;
        const std::size_t agentIndex = static_cast<std::size_t>(&agent - m_listAgents.data());
        m_mapXids[slot.xid] = {agentIndex, index};
    } else {
        slot.wait *= 2; // a retransmission, with the same XID
    }
    slot.next = now + slot.wait;
    out.push_back({agent.address, Build(agent, index, slot.xid)});
}

std::vector<CSimRegistrar::Outgoing> CSimRegistrar::Due(Clock::time_point now) {
    std::vector<Outgoing> out;
    for (Agent& agent : m_listAgents) {
        if (agent.bDown) {
            continue;
        }
        for (std::size_t i = 0; i < agent.slots.size(); ++i) {
            Slot& slot = agent.slots[i];
            if (slot.next > now) {
                continue;
            }
            if (slot.state == State::Sent) {
                if (slot.wait >= kRetryMax) {
                    // No answer: given up until the agent's next advert.
                    m_mapXids.erase(slot.xid);
                    --agent.inFlight;
                    slot.state = State::Refused;
                } else {
                    Send(agent, i, now, out);
                }
            } else if ((slot.state == State::Pending || slot.state == State::Registered) &&
                       agent.inFlight < kWindow) {
                Send(agent, i, now, out);
            }
        }
    }
    return out;
}

CSimRegistrar::Message CSimRegistrar::DiscoveryRequest() const {
    std::vector<std::string> scopes;
    for (const CArrayConfig& array : m_arrArrays) {
        if (std::find(scopes.begin(), scopes.end(), array.m_strScope) == scopes.end()) {
            scopes.push_back(array.m_strScope);
        }
    }
    std::string scopeList;
    for (const std::string& scope : scopes) {
        scopeList += (scopeList.empty() ? "" : ",") + scope;
    }
    SlpHeader header;
    header.xid = 0;
    header.flags = kSlpFlagMulticast;
    return CSlpMessageCodec::Encode(header, SlpSrvRqst{"", kDirectoryAgentType, scopeList, "", ""});
}

std::size_t CSimRegistrar::Registered() const {
    std::size_t count = 0;
    for (const Agent& agent : m_listAgents) {
        count += static_cast<std::size_t>(
            std::count_if(agent.slots.begin(), agent.slots.end(),
                          [](const Slot& slot) { return slot.state == State::Registered; }));
    }
    return count;
}

std::size_t CSimRegistrar::Leaving() const {
    std::size_t count = 0;
    for (const Agent& agent : m_listAgents) {
        count += static_cast<std::size_t>(
            std::count_if(agent.slots.begin(), agent.slots.end(), [](const Slot& slot) {
                return slot.state == State::Pending || slot.state == State::Sent;
            }));
    }
    return count;
}
