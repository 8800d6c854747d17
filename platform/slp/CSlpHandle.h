// What an SLPHandle stands for: the settings read when it was opened, its language, and the
// rule that one handle runs one operation at a time. FindSrvs and FindAttrs turn the API's
// calls into requests, run them through the convergence engine and feed the callbacks.
#pragma once

#include "platform/slp/CSlpConfig.h"
#include "platform/slp/CSlpResponderCache.h"
#include "platform/slp/slp.h"

#include <atomic>
#include <string>

class CSlpHandle {
public:
    CSlpHandle(CSlpConfig config, std::string language, CSlpResponderCache& responders);

    SLPError FindSrvs(const char* serviceType, const char* scopeList, const char* filter,
                      SLPSrvURLCallback* callback, void* cookie);
    SLPError FindAttrs(const char* urlOrType, const char* scopeList, const char* attrIds,
                       SLPAttrCallback* callback, void* cookie);

    const CSlpConfig& Config() const { return m_config; }

private:
    class CBusy;
    std::string Scopes(const char* scopeList) const;

    CSlpConfig m_config;
    std::string m_strLanguage;
    CSlpResponderCache& m_responders;
    std::atomic<bool> m_bBusy{false};
};
