// The in-memory directory agent: its registry and the entry points of the function table.
#include "bench/service/CDirectoryAgentSlp.h"

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <utility>

namespace {

struct CAgent {
    std::shared_mutex mutex;
    std::vector<CRegisteredService> services;
    std::unordered_map<std::string, std::size_t> byUrl;
    std::atomic<std::size_t> nSearches{0};
    std::atomic<std::size_t> nAttrQueries{0};
};

// Never destroyed: a pass thread may still be inside the agent while the process ends.
CAgent& Agent() {
    static auto* s_agent = new CAgent;
    return *s_agent;
}

// Any non-null value serves as a handle: the agent keeps no state per handle.
int g_handle;

SLPError Open(const char*, SLPBoolean isAsync, SLPHandle* handle) {
    *handle = isAsync == SLP_FALSE ? &g_handle : nullptr;
    return isAsync == SLP_FALSE ? SLP_OK : SLP_NOT_IMPLEMENTED;
}

void Close(SLPHandle) {}

// The reply is copied out first: the callbacks file servers on the window thread, which must not
// wait for the registry.
SLPError FindSrvs(SLPHandle handle, const char*, const char*, const char*,
                  SLPSrvURLCallback* callback, void* cookie) {
    CAgent& agent = Agent();
    ++agent.nSearches;
    std::vector<std::string> urls;
    {
        const std::shared_lock lock(agent.mutex);
        urls.reserve(agent.services.size());
        for (const CRegisteredService& service : agent.services) {
            urls.push_back(service.strUrl);
        }
    }
    for (const std::string& url : urls) {
        if (callback(handle, url.c_str(), SLP_LIFETIME_DEFAULT, SLP_OK, cookie) == SLP_FALSE) {
            return SLP_OK;
        }
    }
    callback(handle, nullptr, 0, SLP_LAST_CALL, cookie);
    return SLP_OK;
}

SLPError FindAttrs(SLPHandle handle, const char* url, const char*, const char*,
                   SLPAttrCallback* callback, void* cookie) {
    CAgent& agent = Agent();
    ++agent.nAttrQueries;
    std::string attrs;
    {
        const std::shared_lock lock(agent.mutex);
        const auto found = agent.byUrl.find(url);
        if (found == agent.byUrl.end()) {
            callback(handle, nullptr, SLP_NETWORK_TIMED_OUT, cookie);
            return SLP_NETWORK_TIMED_OUT;
        }
        attrs = agent.services[found->second].strAttrs;
    }
    if (callback(handle, attrs.c_str(), SLP_OK, cookie) == SLP_TRUE) {
        callback(handle, nullptr, SLP_LAST_CALL, cookie);
    }
    return SLP_OK;
}

} // namespace

void CDirectoryAgentSlp::Register(std::vector<CRegisteredService> services) {
    CAgent& agent = Agent();
    const std::unique_lock lock(agent.mutex);
    agent.services = std::move(services);
    agent.byUrl.clear();
    for (std::size_t i = 0; i < agent.services.size(); ++i) {
        agent.byUrl[agent.services[i].strUrl] = i;
    }
}

CSlpFunctions CDirectoryAgentSlp::Functions() {
    return {&Open, &Close, &FindSrvs, &FindAttrs, &SLPParseSrvURL, &SLPParseAttrs, &SLPFree};
}

std::size_t CDirectoryAgentSlp::Searches() {
    return Agent().nSearches;
}

std::size_t CDirectoryAgentSlp::AttrQueries() {
    return Agent().nAttrQueries;
}
