// What an SLPHandle stands for: the settings read when it was opened, its language, and the
// rule that one handle runs one operation at a time. FindSrvs and FindAttrs turn the API's
// calls into requests, run them through the convergence engine and feed the callbacks.
//
// The directory agents known for the request's scopes (configured or discovered, see
// CSlpDirectoryAgents) are asked by unicast, over TCP when the answer overflows a datagram;
// when none answers whole and without an error code, the search goes on by multicast, and an
// agent that did not answer at all is reported to the directory agents' list. An attribute
// query first asks, by unicast, the agent whose multicast answer named the URL, if any did. With
// orvane.slp.attributesFromUrlHost on, the attributes of a URL that names its host by address
// are asked of the directory agents when there are any, else of that host alone, never by
// multicast, all within net.slp.unicastMaximumWait (SLP_NETWORK_TIMED_OUT when nobody
// answered). Errors reach the last call of the callback: an agent's error code (as its
// SLPError) when the search found nothing else, and SLP_NETWORK_ERROR for a reply that
// overflowed and could not be fetched whole over TCP. Such a cut-short reply still delivers
// the URLs that arrived whole, but a multicast search that met one reports SLP_NETWORK_ERROR,
// since its list is known to be incomplete; a cut-short attribute list is never delivered.
#pragma once

#include "platform/slp/CSlpConfig.h"
#include "platform/slp/CSlpConvergence.h"
#include "platform/slp/CSlpDirectoryAgents.h"
#include "platform/slp/CSlpResponderCache.h"
#include "platform/slp/slp.h"

#include <atomic>
#include <optional>
#include <string>

class CSlpHandle {
public:
    CSlpHandle(CSlpConfig config, std::string language, CSlpResponderCache& responders,
               CSlpDirectoryAgents& directoryAgents);

    SLPError FindSrvs(const char* serviceType, const char* scopeList, const char* filter,
                      SLPSrvURLCallback* callback, void* cookie);
    SLPError FindAttrs(const char* urlOrType, const char* scopeList, const char* attrIds,
                       SLPAttrCallback* callback, void* cookie);

private:
    class CBusy;
    class CReplyTally;
    std::string Scopes(const char* scopeList) const;
    // Asks each agent in turn until one answers whole (when firstWhole) or all were asked;
    // an agent that gives no answer at all is reported. False when the handler stopped.
    bool AskAgents(CSlpConvergence& engine, const std::vector<sockaddr_in>& agents,
                   const CSlpConvergence::Builder& build, const CSlpConvergence::Handler& handle,
                   const CReplyTally& tally, bool firstWhole, const bool& stopped);

    // The attributes of a URL that names its host: the directory agents in use know it, or else
    // the host itself does. Nobody else is asked, and the whole query keeps one deadline, so a
    // host that never answers costs no more than that.
    SLPError AskNamedHost(CSlpConvergence& engine, const sockaddr_in& host,
                          const std::vector<sockaddr_in>& directoryAgents,
                          const CSlpConvergence::Builder& build,
                          const CSlpConvergence::Handler& handle, const CReplyTally& tally,
                          const bool& stopped);
    // The address of the host a service URL names, when it names one by an IPv4 literal.
    std::optional<sockaddr_in> NamedHost(const char* urlOrType) const;
    // The attribute query's last call.
    SLPError Finish(SLPAttrCallback* callback, void* cookie, SLPError result);

    CSlpConfig m_config;
    std::string m_strLanguage;
    CSlpResponderCache& m_responders;
    CSlpDirectoryAgents& m_directoryAgents;
    std::atomic<bool> m_bBusy{false};
};
