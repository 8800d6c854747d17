#include "platform/slp/CSlpHandle.h"

#include "platform/slp/CSlpConvergence.h"
#include "platform/slp/CSlpMessageCodec.h"

#include <arpa/inet.h>
#include <optional>
#include <unordered_set>

namespace {

std::optional<sockaddr_in> DirectoryAgent(const std::string& address, std::uint16_t port) {
    sockaddr_in agent{};
    agent.sin_family = AF_INET;
    agent.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &agent.sin_addr) != 1) {
        return std::nullopt;
    }
    return agent;
}

bool Usable(const std::string& text) {
    return !text.empty() && text.find('\0') == std::string::npos;
}

} // namespace

// Marks the handle busy for the length of one operation; a second one on it is refused.
class CSlpHandle::CBusy {
public:
    explicit CBusy(std::atomic<bool>& busy) : m_busy(busy), m_bOwned(!busy.exchange(true)) {}
    ~CBusy() {
        if (m_bOwned) {
            m_busy = false;
        }
    }
    CBusy(const CBusy&) = delete;
    CBusy& operator=(const CBusy&) = delete;
    bool Owned() const { return m_bOwned; }

private:
    std::atomic<bool>& m_busy;
    bool m_bOwned;
};

CSlpHandle::CSlpHandle(CSlpConfig config, std::string language, CSlpResponderCache& responders)
    : m_config(std::move(config)), m_strLanguage(std::move(language)), m_responders(responders) {}

std::string CSlpHandle::Scopes(const char* scopeList) const {
    return scopeList != nullptr && *scopeList != '\0' ? scopeList : m_config.m_strUseScopes;
}

SLPError CSlpHandle::FindSrvs(const char* serviceType, const char* scopeList, const char* filter,
                              SLPSrvURLCallback* callback, void* cookie) {
    if (serviceType == nullptr || *serviceType == '\0' || callback == nullptr) {
        return SLP_PARAMETER_BAD;
    }
    CBusy busy(m_bBusy);
    if (!busy.Owned()) {
        return SLP_HANDLE_IN_USE;
    }
    SlpSrvRqst request{"", serviceType, Scopes(scopeList), filter != nullptr ? filter : "", ""};
    auto build = [&request](const SlpHeader& header, std::string_view prList) {
        request.prList = std::string(prList);
        return CSlpMessageCodec::Encode(header, request);
    };
    std::unordered_set<std::string> seen;
    bool stopped = false;
    auto handle = [&](std::span<const std::uint8_t> message, const SlpHeader& header,
                      const sockaddr_in& from) {
        std::optional<SlpSrvRply> reply = CSlpMessageCodec::DecodeSrvRply(message, header);
        if (!reply || reply->errorCode != 0) {
            return CSlpConvergence::Verdict::More;
        }
        for (const SlpUrlEntry& entry : reply->entries) {
            if (!Usable(entry.url) || !seen.insert(entry.url).second) {
                continue;
            }
            sockaddr_in agent = from;
            agent.sin_port = htons(m_config.m_nPort);
            m_responders.Remember(entry.url, agent);
            if (callback(this, entry.url.c_str(), entry.lifetime, SLP_OK, cookie) == SLP_FALSE) {
                stopped = true;
                return CSlpConvergence::Verdict::Stop;
            }
        }
        return CSlpConvergence::Verdict::More;
    };
    CSlpConvergence engine(m_config, m_strLanguage, SlpFunction::SrvRply);
    SLPError result = SLP_NETWORK_TIMED_OUT;
    for (const std::string& address : m_config.m_listDAAddresses) {
        std::optional<sockaddr_in> agent = DirectoryAgent(address, m_config.m_nPort);
        if (agent && engine.Unicast(*agent, build, handle) == SLP_OK) {
            result = SLP_OK;
        }
        if (stopped) {
            return SLP_OK;
        }
    }
    if (result != SLP_OK) {
        result = engine.Multicast(build, handle);
    }
    if (stopped) {
        return SLP_OK;
    }
    callback(this, nullptr, 0, result == SLP_OK ? SLP_LAST_CALL : result, cookie);
    return result;
}

SLPError CSlpHandle::FindAttrs(const char* urlOrType, const char* scopeList, const char* attrIds,
                               SLPAttrCallback* callback, void* cookie) {
    if (urlOrType == nullptr || *urlOrType == '\0' || callback == nullptr) {
        return SLP_PARAMETER_BAD;
    }
    CBusy busy(m_bBusy);
    if (!busy.Owned()) {
        return SLP_HANDLE_IN_USE;
    }
    SlpAttrRqst request{"", urlOrType, Scopes(scopeList), attrIds != nullptr ? attrIds : "", ""};
    auto build = [&request](const SlpHeader& header, std::string_view prList) {
        request.prList = std::string(prList);
        return CSlpMessageCodec::Encode(header, request);
    };
    bool stopped = false;
    bool answered = false;
    auto handle = [&](std::span<const std::uint8_t> message, const SlpHeader& header,
                      const sockaddr_in&) {
        std::optional<SlpAttrRply> reply = CSlpMessageCodec::DecodeAttrRply(message, header);
        if (!reply || reply->errorCode != 0) {
            return CSlpConvergence::Verdict::More;
        }
        answered = true;
        if (callback(this, reply->attrList.c_str(), SLP_OK, cookie) == SLP_FALSE) {
            stopped = true;
            return CSlpConvergence::Verdict::Stop;
        }
        return CSlpConvergence::Verdict::More;
    };
    CSlpConvergence engine(m_config, m_strLanguage, SlpFunction::AttrRply);
    SLPError result = SLP_NETWORK_TIMED_OUT;
    std::vector<sockaddr_in> agents;
    std::optional<sockaddr_in> known = m_responders.Find(urlOrType);
    if (known) {
        agents.push_back(*known);
    }
    for (const std::string& address : m_config.m_listDAAddresses) {
        if (std::optional<sockaddr_in> agent = DirectoryAgent(address, m_config.m_nPort)) {
            agents.push_back(*agent);
        }
    }
    for (const sockaddr_in& agent : agents) {
        if (engine.Unicast(agent, build, handle) == SLP_OK && answered) {
            result = SLP_OK;
            break;
        }
        if (stopped) {
            break;
        }
    }
    if (stopped) {
        return SLP_OK;
    }
    if (result != SLP_OK) {
        if (known) {
            // The agent that announced the URL no longer answers for it.
            m_responders.Forget(urlOrType);
        }
        result = engine.Multicast(build, handle);
    }
    if (stopped) {
        return SLP_OK;
    }
    callback(this, nullptr, result == SLP_OK ? SLP_LAST_CALL : result, cookie);
    return result;
}
