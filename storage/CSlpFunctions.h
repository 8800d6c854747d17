// The SLP calls that discovery makes, as a table of functions: the library's own in the program,
// scripted ones in the tests of the discovery handlers and the pass thread.
#pragma once

#include "platform/slp/slp.h"

struct CSlpFunctions {
    decltype(&SLPOpen) open = nullptr;
    decltype(&SLPClose) close = nullptr;
    decltype(&SLPFindSrvs) findSrvs = nullptr;
    decltype(&SLPFindAttrs) findAttrs = nullptr;
    decltype(&SLPParseSrvURL) parseSrvURL = nullptr;
    decltype(&SLPParseAttrs) parseAttrs = nullptr;
    decltype(&SLPFree) free = nullptr;
    // Optional: discovery's own property defaults are skipped without it.
    decltype(&SLPSetPropertyDefault) setPropertyDefault = nullptr;

    static CSlpFunctions Library() {
        return {&SLPOpen,        &SLPClose,      &SLPFindSrvs, &SLPFindAttrs,
                &SLPParseSrvURL, &SLPParseAttrs, &SLPFree,     &SLPSetPropertyDefault};
    }
};
