// A scripted SLP layer for the discovery tests: the services a search finds, the attribute list
// each one answers with (or an error), handles that fail to open, and a gate that holds attribute
// queries inside the library until the test lets them go. URL and attribute parsing are the
// library's own. The script is process-wide, as the function table wants plain functions.
#pragma once

#include "storage/CSlpFunctions.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

struct CFakeService {
    std::string strUrl;
    std::string strAttrs;
    SLPError attrError = SLP_OK;
    bool bQueryHandleFails = false; // the first attribute query handle after this search fails
};

class CFakeSlp {
public:
    static CFakeSlp& Instance();
    static CSlpFunctions Functions();

    // A fresh script: no services, every open succeeds, the gate open, counters at 0.
    void Reset();
    void SetServices(std::vector<CFakeService> services);
    void SetOpenFails(bool fails);
    // Attribute queries wait inside the library while the gate is closed.
    void CloseGate();
    void OpenGate();
    // Waits until a query waits at the closed gate.
    void WaitUntilHeld();
    // Waits (up to a generous deadline) until count queries wait at the gate at once.
    bool WaitUntilHeld(int count);
    // The most queries that were inside the library at once, and whether one ran while a search
    // was still calling back.
    int MostHeld();
    bool QueriedDuringASearch();
    // Waits until count searches have closed their handle: the pass thread has left the library.
    void WaitForSearchesDone(int count);

    int Searches();
    std::vector<std::string> Queries(); // "type|scope|filter" and "url|scope|ids", in order
    int OpenHandles();

    // The fake's entry points.
    static SLPError Open(const char* lang, SLPBoolean isAsync, SLPHandle* handle);
    static void Close(SLPHandle handle);
    static SLPError FindSrvs(SLPHandle handle, const char* type, const char* scopes,
                             const char* filter, SLPSrvURLCallback* callback, void* cookie);
    static SLPError FindAttrs(SLPHandle handle, const char* url, const char* scopes,
                              const char* ids, SLPAttrCallback* callback, void* cookie);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<CFakeService> m_services;
    std::unordered_map<std::string, std::size_t> m_mapByUrl; // the last service of each URL
    std::vector<std::string> m_queries;
    bool m_bOpenFails = false;
    bool m_bGateClosed = false;
    bool m_bFailNextOpen = false;
    int m_nHeld = 0;
    int m_nMostHeld = 0;
    bool m_bSearching = false;
    bool m_bQueriedDuringSearch = false;
    int m_nSearches = 0;
    int m_nSearchesDone = 0;
    int m_nOpenHandles = 0;
};
