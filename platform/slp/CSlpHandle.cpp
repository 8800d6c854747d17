// The handle behind SLPOpen: its two operations, the directory agents asked first, multicast after.
#include "platform/slp/CSlpHandle.h"

#include "platform/slp/CSlpMessageCodec.h"
#include "platform/slp/CSlpServiceUrl.h"
#include "platform/slp/CSlpUdpSocket.h"

#include <arpa/inet.h>
#include <chrono>
#include <optional>
#include <unordered_set>

namespace {

bool Usable(const std::string& text) {
    return !text.empty() && text.find('\0') == std::string::npos;
}

// The SLPError for an error code that an agent answered with.
SLPError FromWireError(std::uint16_t code) {
    switch (static_cast<SlpWireError>(code)) {
    case SlpWireError::LanguageNotSupported:
        return SLP_LANGUAGE_NOT_SUPPORTED;
    case SlpWireError::ParseError:
    // The agent could not read or would not take the request: a protocol error on its side.
    case SlpWireError::VersionNotSupported:
    case SlpWireError::OptionNotUnderstood:
        return SLP_PARSE_ERROR;
    case SlpWireError::InvalidRegistration:
        return SLP_INVALID_REGISTRATION;
    case SlpWireError::ScopeNotSupported:
        return SLP_SCOPE_NOT_SUPPORTED;
    case SlpWireError::AuthenticationUnknown:
        return SLP_AUTHENTICATION_UNKNOWN;
    case SlpWireError::AuthenticationAbsent:
        return SLP_AUTHENTICATION_ABSENT;
    case SlpWireError::AuthenticationFailed:
        return SLP_AUTHENTICATION_FAILED;
    case SlpWireError::InvalidUpdate:
        return SLP_INVALID_UPDATE;
    case SlpWireError::RefreshRejected:
        return SLP_REFRESH_REJECTED;
    case SlpWireError::MessageNotSupported:
        return SLP_NOT_IMPLEMENTED;
    default: // INTERNAL_ERROR, DA_BUSY_NOW and codes without a name
        return SLP_INTERNAL_SYSTEM_ERROR;
    }
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

// What the replies of one stage of a search (directory agents, then multicast) came to.
class CSlpHandle::CReplyTally {
public:
    // Counts one decoded reply; false when it holds nothing to hand on (an error code).
    bool Take(std::uint16_t errorCode, bool cutShort, bool hasContent) {
        if (errorCode != 0) {
            Keep(FromWireError(errorCode));
            return false;
        }
        if (cutShort) {
            m_bCutShort = true;
            Keep(SLP_NETWORK_ERROR);
        } else {
            m_bWhole = true;
            m_bFound = m_bFound || hasContent;
        }
        return true;
    }
    // The error to report when nothing better came: the first one met, or SLP_OK.
    SLPError Pending() const { return m_errPending; }

    bool m_bWhole = false;    // a reply came whole and without an error code
    bool m_bFound = false;    // ... and it held something
    bool m_bCutShort = false; // a reply could not be fetched whole

private:
    void Keep(SLPError error) {
        if (m_errPending == SLP_OK) {
            m_errPending = error;
        }
    }
    SLPError m_errPending = SLP_OK;
};

CSlpHandle::CSlpHandle(CSlpConfig config, std::string language, CSlpResponderCache& responders,
                       CSlpDirectoryAgents& directoryAgents)
    : m_config(std::move(config)), m_strLanguage(std::move(language)), m_responders(responders),
      m_directoryAgents(directoryAgents) {}

std::string CSlpHandle::Scopes(const char* scopeList) const {
    return scopeList != nullptr && *scopeList != '\0' ? scopeList : m_config.m_strUseScopes;
}

bool CSlpHandle::AskAgents(CSlpConvergence& engine, const std::vector<sockaddr_in>& agents,
                           const CSlpConvergence::Builder& build,
                           const CSlpConvergence::Handler& handle, const CReplyTally& tally,
                           bool firstWhole, const bool& stopped) {
    for (const sockaddr_in& agent : agents) {
        const SLPError error = engine.Unicast(agent, build, handle);
        if (stopped) {
            return false;
        }
        if (error == SLP_NETWORK_TIMED_OUT || error == SLP_NETWORK_ERROR) {
            m_directoryAgents.Failed(agent);
        }
        if (firstWhole && tally.m_bWhole) {
            break;
        }
    }
    return true;
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
    bool multicasting = false;
    CReplyTally tally;
    auto handle = [&](std::span<const std::uint8_t> message, const SlpHeader& header,
                      const sockaddr_in& from) {
        std::optional<SlpSrvRply> reply = CSlpMessageCodec::DecodeSrvRply(message, header);
        if (!reply || !tally.Take(reply->errorCode, header.Overflow(), !reply->entries.empty())) {
            return CSlpConvergence::Verdict::More;
        }
        // A cut-short reply still delivers the URLs that arrived whole.
        for (const SlpUrlEntry& entry : reply->entries) {
            if (!Usable(entry.url) || !seen.insert(entry.url).second) {
                continue;
            }
            // A URL that a directory agent named is asked about there again, through the
            // directory agents' list, which forgets an agent that stops answering.
            if (multicasting) {
                sockaddr_in agent = from;
                agent.sin_port = htons(m_config.m_nPort);
                m_responders.Remember(entry.url, agent);
            }
            if (callback(this, entry.url.c_str(), entry.lifetime, SLP_OK, cookie) == SLP_FALSE) {
                stopped = true;
                return CSlpConvergence::Verdict::Stop;
            }
        }
        return CSlpConvergence::Verdict::More;
    };
    CSlpConvergence engine(m_config, m_strLanguage, SlpFunction::SrvRply);
    const std::vector<sockaddr_in> agents =
        m_directoryAgents.For(m_config, m_strLanguage, request.scopeList);
    if (!AskAgents(engine, agents, build, handle, tally, false, stopped)) {
        return SLP_OK;
    }
    // One directory agent that answered whole is enough; otherwise multicast finds the rest.
    SLPError result = SLP_OK;
    if (!tally.m_bWhole) {
        const SLPError directoryError = tally.Pending();
        tally = CReplyTally();
        multicasting = true;
        result = engine.Multicast(build, handle);
        if (stopped) {
            return SLP_OK;
        }
        if (result == SLP_OK && tally.m_bCutShort) {
            result = SLP_NETWORK_ERROR; // the list is known to be incomplete
        } else if (!tally.m_bFound && directoryError != SLP_OK) {
            result = directoryError;
        } else if (result == SLP_OK && !tally.m_bFound) {
            result = tally.Pending();
        }
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
    CReplyTally tally;
    auto handle = [&](std::span<const std::uint8_t> message, const SlpHeader& header,
                      const sockaddr_in&) {
        std::optional<SlpAttrRply> reply = CSlpMessageCodec::DecodeAttrRply(message, header);
        // An attribute list cut short is not the server's list: it is never handed on.
        if (!reply || !tally.Take(reply->errorCode, header.Overflow(), true) || header.Overflow()) {
            return CSlpConvergence::Verdict::More;
        }
        if (callback(this, reply->attrList.c_str(), SLP_OK, cookie) == SLP_FALSE) {
            stopped = true;
            return CSlpConvergence::Verdict::Stop;
        }
        return CSlpConvergence::Verdict::More;
    };
    CSlpConvergence engine(m_config, m_strLanguage, SlpFunction::AttrRply);
    const std::vector<sockaddr_in> directoryAgents =
        m_directoryAgents.For(m_config, m_strLanguage, request.scopeList);
    const std::optional<sockaddr_in> host =
        m_config.m_bAttributesFromUrlHost ? NamedHost(urlOrType) : std::nullopt;
    if (host) {
        const SLPError result =
            AskNamedHost(engine, *host, directoryAgents, build, handle, tally, stopped);
        return stopped ? SLP_OK : Finish(callback, cookie, result);
    }
    std::vector<sockaddr_in> agents;
    std::optional<sockaddr_in> known = m_responders.Find(urlOrType);
    if (known) {
        agents.push_back(*known);
    }
    agents.insert(agents.end(), directoryAgents.begin(), directoryAgents.end());
    if (!AskAgents(engine, agents, build, handle, tally, true, stopped)) {
        return SLP_OK;
    }
    SLPError result = SLP_OK;
    if (!tally.m_bWhole) {
        if (known) {
            // The agent that announced the URL no longer answers for it.
            m_responders.Forget(urlOrType);
        }
        result = engine.Multicast(build, handle);
        if (stopped) {
            return SLP_OK;
        }
        if (result == SLP_OK && !tally.m_bWhole) {
            result = tally.Pending();
        }
    }
    return Finish(callback, cookie, result);
}

SLPError CSlpHandle::AskNamedHost(CSlpConvergence& engine, const sockaddr_in& host,
                                  const std::vector<sockaddr_in>& directoryAgents,
                                  const CSlpConvergence::Builder& build,
                                  const CSlpConvergence::Handler& handle, const CReplyTally& tally,
                                  const bool& stopped) {
    engine.Limit(CSlpConvergence::Now() +
                 std::chrono::milliseconds(m_config.m_nUnicastMaximumWait));
    SLPError silence = SLP_NETWORK_TIMED_OUT;
    if (directoryAgents.empty()) {
        if (const SLPError error = engine.Unicast(host, build, handle); error != SLP_OK) {
            silence = error;
        }
    } else {
        AskAgents(engine, directoryAgents, build, handle, tally, true, stopped);
    }
    if (tally.m_bWhole) {
        return SLP_OK;
    }
    return tally.Pending() != SLP_OK ? tally.Pending() : silence;
}

SLPError CSlpHandle::Finish(SLPAttrCallback* callback, void* cookie, SLPError result) {
    callback(this, nullptr, result == SLP_OK ? SLP_LAST_CALL : result, cookie);
    return result;
}

std::optional<sockaddr_in> CSlpHandle::NamedHost(const char* urlOrType) const {
    std::optional<CSlpServiceUrl> url = CSlpServiceUrl::Parse(urlOrType);
    if (!url) {
        return std::nullopt;
    }
    return CSlpUdpSocket::Address(url->m_strHost, m_config.m_nPort);
}
