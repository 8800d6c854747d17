// The RFC 2614 entry points: thin C wrappers over CSlpHandle and the parsers. Memory handed to
// the caller comes from malloc so that SLPFree can release any of it.
#include "platform/slp/CImmortal.h"
#include "platform/slp/CSlpAttrList.h"
#include "platform/slp/CSlpConfig.h"
#include "platform/slp/CSlpDirectoryAgents.h"
#include "platform/slp/CSlpHandle.h"
#include "platform/slp/CSlpPropertyDefaults.h"
#include "platform/slp/CSlpServiceUrl.h"
#include "platform/slp/slp.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace {

// The process-wide state, never destroyed (see CImmortal): which agent announced each URL,
// shared by every handle because discovery asks for a URL's attributes on a second handle
// while the first one is still searching; the directory agents known to the process; and the
// program's own property defaults.
CImmortal<CSlpResponderCache> s_responderCache;
CImmortal<CSlpDirectoryAgents> s_directoryAgents;
CImmortal<CSlpPropertyDefaults> s_propertyDefaults;

CSlpHandle* FromHandle(SLPHandle handle) {
    return static_cast<CSlpHandle*>(handle);
}

char* Place(char*& cursor, const std::string& text) {
    char* start = cursor;
    std::memcpy(cursor, text.c_str(), text.size() + 1);
    cursor += text.size() + 1;
    return start;
}

} // namespace

CSlpResponderCache& g_slpResponderCache = s_responderCache.Get();
CSlpDirectoryAgents& g_slpDirectoryAgents = s_directoryAgents.Get();

extern "C" {

SLPError SLPOpen(const char* pcLang, SLPBoolean isAsync, SLPHandle* phSLP) {
    if (phSLP == nullptr) {
        return SLP_PARAMETER_BAD;
    }
    *phSLP = nullptr;
    if (isAsync == SLP_TRUE) {
        return SLP_NOT_IMPLEMENTED;
    }
    CSlpConfig config = CSlpConfig::Load(s_propertyDefaults.Get().Text());
    std::string language = pcLang != nullptr && *pcLang != '\0' ? pcLang : config.m_strLocale;
    auto handle = std::make_unique<CSlpHandle>(std::move(config), std::move(language),
                                               g_slpResponderCache, g_slpDirectoryAgents);
    *phSLP = handle.release();
    return SLP_OK;
}

void SLPClose(SLPHandle hSLP) {
    std::unique_ptr<CSlpHandle> owned(FromHandle(hSLP));
}

SLPError SLPFindSrvs(SLPHandle hSLP, const char* pcServiceType, const char* pcScopeList,
                     const char* pcSearchFilter, SLPSrvURLCallback* callback, void* pvCookie) {
    if (hSLP == nullptr) {
        return SLP_PARAMETER_BAD;
    }
    return FromHandle(hSLP)->FindSrvs(pcServiceType, pcScopeList, pcSearchFilter, callback,
                                      pvCookie);
}

SLPError SLPFindAttrs(SLPHandle hSLP, const char* pcURLOrServiceType, const char* pcScopeList,
                      const char* pcAttrIds, SLPAttrCallback* callback, void* pvCookie) {
    if (hSLP == nullptr) {
        return SLP_PARAMETER_BAD;
    }
    return FromHandle(hSLP)->FindAttrs(pcURLOrServiceType, pcScopeList, pcAttrIds, callback,
                                       pvCookie);
}

SLPError SLPParseSrvURL(const char* pcSrvURL, SLPSrvURL** ppSrvURL) {
    if (pcSrvURL == nullptr || ppSrvURL == nullptr) {
        return SLP_PARAMETER_BAD;
    }
    *ppSrvURL = nullptr;
    std::optional<CSlpServiceUrl> url = CSlpServiceUrl::Parse(pcSrvURL);
    if (!url) {
        return SLP_PARSE_ERROR;
    }
    const std::string family;
    std::size_t size = sizeof(SLPSrvURL) + url->m_strServiceType.size() + url->m_strHost.size() +
                       family.size() + url->m_strRest.size() + 4;
    auto* block = static_cast<SLPSrvURL*>(std::malloc(size));
    if (block == nullptr) {
        return SLP_MEMORY_ALLOC_FAILED;
    }
    char* cursor = reinterpret_cast<char*>(block + 1);
    block->s_pcSrvType = Place(cursor, url->m_strServiceType);
    block->s_pcHost = Place(cursor, url->m_strHost);
    block->s_iPort = url->m_nPort;
    block->s_pcNetFamily = Place(cursor, family);
    block->s_pcSrvPart = Place(cursor, url->m_strRest);
    *ppSrvURL = block;
    return SLP_OK;
}

SLPError SLPParseAttrs(const char* pcAttrList, const char* pcAttrId, char** ppcAttrVal) {
    if (pcAttrList == nullptr || pcAttrId == nullptr || ppcAttrVal == nullptr) {
        return SLP_PARAMETER_BAD;
    }
    *ppcAttrVal = nullptr;
    std::optional<std::string> value = CSlpAttrList::Find(pcAttrList, pcAttrId);
    if (!value) {
        return SLP_PARSE_ERROR;
    }
    auto* copy = static_cast<char*>(std::malloc(value->size() + 1));
    if (copy == nullptr) {
        return SLP_MEMORY_ALLOC_FAILED;
    }
    std::memcpy(copy, value->c_str(), value->size() + 1);
    *ppcAttrVal = copy;
    return SLP_OK;
}

void SLPFree(void* pvMem) {
    std::free(pvMem);
}

SLPError SLPSetPropertyDefault(const char* pcName, const char* pcValue) {
    if (pcName == nullptr || pcValue == nullptr || !s_propertyDefaults.Get().Set(pcName, pcValue)) {
        return SLP_PARAMETER_BAD;
    }
    return SLP_OK;
}

} // extern "C"
