// An SLP layer for the benchmarks that answers from memory as one directory agent would: a search
// returns every registered service URL in one reply, an attribute query the list registered for
// its URL. No packet moves, so a discovery pass over a large fleet runs through the same code as a
// real one (URLs gathered, attributes asked, records filed and refreshed under the guard) while the
// machine's network stays quiet. URL and attribute parsing are the library's own. The registry is
// process-wide, as the function table wants plain functions.
#pragma once

#include "storage/CSlpFunctions.h"

#include <cstddef>
#include <string>
#include <vector>

struct CRegisteredService {
    std::string strUrl;
    std::string strAttrs;
};

class CDirectoryAgentSlp {
public:
    // Replaces what the agent holds; call it while no pass runs.
    static void Register(std::vector<CRegisteredService> services);
    static CSlpFunctions Functions();

    // How many searches and attribute queries the agent has answered so far.
    static std::size_t Searches();
    static std::size_t AttrQueries();
};
