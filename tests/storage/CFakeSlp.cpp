// The scripted SLP layer's entry points and its script, guarded by one mutex.
#include "tests/storage/CFakeSlp.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

// Handles are tagged so that Close knows a search's handle from a query's.
int g_searchTag;
int g_queryTag;

} // namespace

CFakeSlp& CFakeSlp::Instance() {
    static CFakeSlp s_instance;
    return s_instance;
}

CSlpFunctions CFakeSlp::Functions() {
    return {&Open, &Close, &FindSrvs, &FindAttrs, &SLPParseSrvURL, &SLPParseAttrs, &SLPFree};
}

void CFakeSlp::Reset() {
    std::lock_guard lock(m_mutex);
    m_services.clear();
    m_mapByUrl.clear();
    m_nMostHeld = 0;
    m_bSearching = false;
    m_bQueriedDuringSearch = false;
    m_queries.clear();
    m_bOpenFails = false;
    m_bGateClosed = false;
    m_bFailNextOpen = false;
    m_nHeld = 0;
    m_nSearches = 0;
    m_nSearchesDone = 0;
    m_nOpenHandles = 0;
}

void CFakeSlp::SetServices(std::vector<CFakeService> services) {
    std::lock_guard lock(m_mutex);
    m_services = std::move(services);
    m_mapByUrl.clear();
    for (std::size_t i = 0; i < m_services.size(); ++i) {
        m_mapByUrl[m_services[i].strUrl] = i;
    }
}

void CFakeSlp::SetOpenFails(bool fails) {
    std::lock_guard lock(m_mutex);
    m_bOpenFails = fails;
}

void CFakeSlp::CloseGate() {
    std::lock_guard lock(m_mutex);
    m_bGateClosed = true;
}

void CFakeSlp::OpenGate() {
    {
        std::lock_guard lock(m_mutex);
        m_bGateClosed = false;
    }
    m_changed.notify_all();
}

void CFakeSlp::WaitUntilHeld() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_nHeld > 0; });
}

bool CFakeSlp::WaitUntilHeld(int count) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return m_nHeld >= count; });
}

int CFakeSlp::MostHeld() {
    std::lock_guard lock(m_mutex);
    return m_nMostHeld;
}

bool CFakeSlp::QueriedDuringASearch() {
    std::lock_guard lock(m_mutex);
    return m_bQueriedDuringSearch;
}

void CFakeSlp::WaitForSearchesDone(int count) {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_nSearchesDone >= count; });
}

int CFakeSlp::Searches() {
    std::lock_guard lock(m_mutex);
    return m_nSearches;
}

std::vector<std::string> CFakeSlp::Queries() {
    std::lock_guard lock(m_mutex);
    return m_queries;
}

int CFakeSlp::OpenHandles() {
    std::lock_guard lock(m_mutex);
    return m_nOpenHandles;
}

SLPError CFakeSlp::Open(const char*, SLPBoolean isAsync, SLPHandle* handle) {
    CFakeSlp& fake = Instance();
    std::lock_guard lock(fake.m_mutex);
    *handle = nullptr;
    if (isAsync != SLP_FALSE || fake.m_bOpenFails || std::exchange(fake.m_bFailNextOpen, false)) {
        return SLP_NETWORK_INIT_FAILED;
    }
    ++fake.m_nOpenHandles;
    // The first handle of a pass searches; the ones opened while it runs query attributes.
    *handle = fake.m_nSearches == fake.m_nSearchesDone ? &g_searchTag : &g_queryTag;
    return SLP_OK;
}

void CFakeSlp::Close(SLPHandle handle) {
    CFakeSlp& fake = Instance();
    // Notified under the lock: once a test has seen the search done, this thread no longer
    // touches the fake, which the end of the process destroys.
    std::lock_guard lock(fake.m_mutex);
    --fake.m_nOpenHandles;
    if (handle == &g_searchTag) {
        ++fake.m_nSearchesDone;
    }
    fake.m_changed.notify_all();
}

SLPError CFakeSlp::FindSrvs(SLPHandle handle, const char* type, const char* scopes,
                            const char* filter, SLPSrvURLCallback* callback, void* cookie) {
    CFakeSlp& fake = Instance();
    std::vector<CFakeService> services;
    {
        std::lock_guard lock(fake.m_mutex);
        ++fake.m_nSearches;
        fake.m_queries.push_back(std::string(type) + "|" + scopes + "|" + filter);
        services = fake.m_services;
        fake.m_bSearching = true;
        fake.m_bFailNextOpen = false;
        for (const CFakeService& service : services) {
            fake.m_bFailNextOpen = fake.m_bFailNextOpen || service.bQueryHandleFails;
        }
    }
    SLPError result = SLP_OK;
    bool stopped = false;
    for (const CFakeService& service : services) {
        if (callback(handle, service.strUrl.c_str(), SLP_LIFETIME_DEFAULT, SLP_OK, cookie) ==
            SLP_FALSE) {
            stopped = true;
            break;
        }
    }
    if (!stopped) {
        callback(handle, nullptr, 0, SLP_LAST_CALL, cookie);
    }
    std::lock_guard lock(fake.m_mutex);
    fake.m_bSearching = false;
    return result;
}

SLPError CFakeSlp::FindAttrs(SLPHandle handle, const char* url, const char* scopes, const char* ids,
                             SLPAttrCallback* callback, void* cookie) {
    CFakeSlp& fake = Instance();
    CFakeService found;
    {
        std::unique_lock lock(fake.m_mutex);
        fake.m_bQueriedDuringSearch = fake.m_bQueriedDuringSearch || fake.m_bSearching;
        fake.m_queries.push_back(std::string(url) + "|" + scopes + "|" + ids);
        if (auto known = fake.m_mapByUrl.find(url); known != fake.m_mapByUrl.end()) {
            found = fake.m_services[known->second];
        }
        ++fake.m_nHeld;
        fake.m_nMostHeld = std::max(fake.m_nMostHeld, fake.m_nHeld);
        fake.m_changed.notify_all();
        fake.m_changed.wait(lock, [&] { return !fake.m_bGateClosed; });
        --fake.m_nHeld;
    }
    if (found.attrError != SLP_OK) {
        callback(handle, nullptr, found.attrError, cookie);
        return found.attrError;
    }
    // A second reply, as from a second agent, unless the first one was enough.
    if (callback(handle, found.strAttrs.c_str(), SLP_OK, cookie) == SLP_TRUE &&
        callback(handle, "(hostname=second reply)", SLP_OK, cookie) == SLP_TRUE) {
        callback(handle, nullptr, SLP_LAST_CALL, cookie);
    }
    return SLP_OK;
}
