// The directory agents of a process: the list, its discovery and its upkeep.
#include "platform/slp/CSlpDirectoryAgents.h"

#include "platform/slp/CSlpConvergence.h"
#include "platform/slp/CSlpMessageCodec.h"
#include "platform/slp/CSlpServiceUrl.h"
#include "platform/slp/CSlpUdpSocket.h"
#include "platform/text/TextUtil.h"

#include <algorithm>
#include <arpa/inet.h>

namespace {

bool SameHost(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr;
}

std::vector<std::string> FoldedList(std::string_view list) {
    std::vector<std::string> items;
    for (std::string_view item : SplitList(list)) {
        items.push_back(FoldWhiteSpaceLower(item));
    }
    return items;
}

bool Serves(const SlpDirectoryAgent& agent, const std::vector<std::string>& scopes) {
    return std::all_of(scopes.begin(), scopes.end(), [&agent](const std::string& scope) {
        return std::find(agent.scopes.begin(), agent.scopes.end(), scope) != agent.scopes.end();
    });
}

// Clears the discovering flag and wakes the waiters however the discovery ends.
class CDiscoveryTurn {
public:
    CDiscoveryTurn(std::mutex& mutex, bool& discovering, std::condition_variable& ended)
        : m_mutex(mutex), m_bDiscovering(discovering), m_ended(ended) {}
    ~CDiscoveryTurn() {
        {
            std::lock_guard lock(m_mutex);
            m_bDiscovering = false;
        }
        m_ended.notify_all();
    }
    CDiscoveryTurn(const CDiscoveryTurn&) = delete;
    CDiscoveryTurn& operator=(const CDiscoveryTurn&) = delete;

private:
    std::mutex& m_mutex;
    bool& m_bDiscovering;
    std::condition_variable& m_ended;
};

} // namespace

bool CSlpDirectoryAgents::DiscoveryDue(const CSlpConfig& config, Clock::time_point now) const {
    if (!config.m_bActiveDADetection || config.m_nDAActiveDiscoveryInterval == 0) {
        return false;
    }
    return !m_lastDiscovery ||
           now - *m_lastDiscovery >= std::chrono::seconds(config.m_nDAActiveDiscoveryInterval);
}

std::vector<sockaddr_in> CSlpDirectoryAgents::For(const CSlpConfig& config,
                                                  std::string_view language,
                                                  std::string_view scopeList) {
    std::vector<sockaddr_in> agents;
    for (const std::string& configured : config.m_listDAAddresses) {
        if (std::optional<sockaddr_in> address =
                CSlpUdpSocket::Address(configured, config.m_nPort)) {
            agents.push_back(*address);
        }
    }
    if (!config.m_bActiveDADetection || config.m_nDAActiveDiscoveryInterval == 0) {
        return agents;
    }
    std::unique_lock lock(m_mutex);
    const Clock::time_point now = Clock::now();
    if (DiscoveryDue(config, now)) {
        if (m_bDiscovering) {
            // Another thread is asking; its wait is bounded, and so is this one.
            m_discoveryEnded.wait_until(lock, now + 2 * (kDiscoveryWait + kSettle),
                                        [this] { return !m_bDiscovering; });
        } else {
            m_bDiscovering = true;
            lock.unlock();
            {
                CDiscoveryTurn turn(m_mutex, m_bDiscovering, m_discoveryEnded);
                Discover(config, language);
            }
            lock.lock();
        }
    }
    const std::vector<std::string> scopes = FoldedList(scopeList);
    for (const SlpDirectoryAgent& agent : m_listAgents) {
        bool listed = std::any_of(agents.begin(), agents.end(), [&agent](const sockaddr_in& a) {
            return SameHost(a, agent.address);
        });
        if (!listed && Serves(agent, scopes)) {
            agents.push_back(agent.address);
        }
    }
    return agents;
}

void CSlpDirectoryAgents::Discover(const CSlpConfig& config, std::string_view language) {
    SlpSrvRqst request{"", kServiceType, config.m_strUseScopes, "", ""};
    auto build = [&request](const SlpHeader& header, std::string_view prList) {
        request.prList = std::string(prList);
        return CSlpMessageCodec::Encode(header, request);
    };
    auto handle = [this, &config](std::span<const std::uint8_t> message, const SlpHeader& header,
                                  const sockaddr_in& from) {
        if (std::optional<SlpDAAdvert> advert = CSlpMessageCodec::DecodeDAAdvert(message, header)) {
            Learn(*advert, from, config.m_nPort);
        }
        return CSlpConvergence::Verdict::More;
    };
    const auto wait =
        std::min(kDiscoveryWait, std::chrono::milliseconds(config.m_arrMulticastTimeouts.front()));
    CSlpConvergence engine(config, std::string(language), SlpFunction::DAAdvert);
    engine.Glance(build, handle, wait, kSettle);
    std::lock_guard lock(m_mutex);
    m_lastDiscovery = Clock::now();
}

void CSlpDirectoryAgents::Learn(const SlpDAAdvert& advert, const sockaddr_in& from,
                                std::uint16_t port) {
    if (advert.errorCode != 0) {
        return;
    }
    // An advert speaks only for its sender: one whose URL names another host (or a name this
    // library does not resolve) could point every search at somebody else.
    std::optional<CSlpServiceUrl> url = CSlpServiceUrl::Parse(advert.url);
    std::optional<sockaddr_in> named =
        url ? CSlpUdpSocket::Address(url->m_strHost, port) : std::nullopt;
    if (!named || !SameHost(*named, from)) {
        return;
    }
    const sockaddr_in address = *named;
    std::lock_guard lock(m_mutex);
    if (advert.bootTimestamp == 0) {
        Remove(address);
        return;
    }
    auto known =
        std::find_if(m_listAgents.begin(), m_listAgents.end(),
                     [&address](const auto& agent) { return SameHost(agent.address, address); });
    if (known == m_listAgents.end()) {
        if (m_listAgents.size() >= kCapacity) {
            m_listAgents.erase(m_listAgents.begin()); // the one known longest
        }
        known = m_listAgents.insert(m_listAgents.end(), SlpDirectoryAgent{});
    }
    known->address = address;
    known->url = advert.url;
    known->scopes = FoldedList(advert.scopeList);
    known->bootTimestamp = advert.bootTimestamp;
}

void CSlpDirectoryAgents::Remove(const sockaddr_in& agent) {
    std::erase_if(m_listAgents,
                  [&agent](const auto& known) { return SameHost(known.address, agent); });
}

void CSlpDirectoryAgents::Failed(const sockaddr_in& agent) {
    std::lock_guard lock(m_mutex);
    const std::size_t before = m_listAgents.size();
    Remove(agent);
    if (before != m_listAgents.size() && m_listAgents.empty()) {
        m_lastDiscovery.reset();
    }
}

std::vector<SlpDirectoryAgent> CSlpDirectoryAgents::Known() const {
    std::lock_guard lock(m_mutex);
    return m_listAgents;
}
