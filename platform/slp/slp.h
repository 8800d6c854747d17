/*
 * Service Location Protocol client interface (the RFC 2614 C binding), the subset a user agent
 * needs for discovery: open a handle, find services, find their attributes, take URLs and
 * attribute lists apart. Behind it is this project's own SLPv2 user agent (RFC 2608).
 */
#ifndef ORVANE_PLATFORM_SLP_SLP_H
#define ORVANE_PLATFORM_SLP_SLP_H

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    SLP_LAST_CALL = 1,
    SLP_OK = 0,
    SLP_LANGUAGE_NOT_SUPPORTED = -1,
    SLP_PARSE_ERROR = -2,
    SLP_INVALID_REGISTRATION = -3,
    SLP_SCOPE_NOT_SUPPORTED = -4,
    SLP_AUTHENTICATION_UNKNOWN = -5,
    SLP_AUTHENTICATION_ABSENT = -6,
    SLP_AUTHENTICATION_FAILED = -7,
    SLP_INVALID_UPDATE = -13,
    SLP_REFRESH_REJECTED = -15,
    SLP_NOT_IMPLEMENTED = -17,
    SLP_BUFFER_OVERFLOW = -18,
    SLP_NETWORK_TIMED_OUT = -19,
    SLP_NETWORK_INIT_FAILED = -20,
    SLP_MEMORY_ALLOC_FAILED = -21,
    SLP_PARAMETER_BAD = -22,
    SLP_NETWORK_ERROR = -23,
    SLP_INTERNAL_SYSTEM_ERROR = -24,
    SLP_HANDLE_IN_USE = -25,
    SLP_TYPE_ERROR = -26
} SLPError;

typedef enum { SLP_FALSE = 0, SLP_TRUE = 1 } SLPBoolean;

typedef enum { SLP_LIFETIME_DEFAULT = 10800, SLP_LIFETIME_MAXIMUM = 65535 } SLPURLLifetime;

typedef void* SLPHandle;

typedef struct srvurl {
    char* s_pcSrvType;   /* "service:printer:lpr", without the "://" */
    char* s_pcHost;      /* host name or address literal */
    int s_iPort;         /* 0 when the URL names none */
    char* s_pcNetFamily; /* "" for IP */
    char* s_pcSrvPart;   /* the rest of the URL after host and port, "" when none */
} SLPSrvURL;

typedef SLPBoolean SLPSrvURLCallback(SLPHandle hSLP, const char* pcSrvURL, unsigned short sLifetime,
                                     SLPError errCode, void* pvCookie);

typedef SLPBoolean SLPAttrCallback(SLPHandle hSLP, const char* pcAttrList, SLPError errCode,
                                   void* pvCookie);

/* Only synchronous handles are offered: isAsync SLP_TRUE answers SLP_NOT_IMPLEMENTED. */
SLPError SLPOpen(const char* pcLang, SLPBoolean isAsync, SLPHandle* phSLP);
void SLPClose(SLPHandle hSLP);

SLPError SLPFindSrvs(SLPHandle hSLP, const char* pcServiceType, const char* pcScopeList,
                     const char* pcSearchFilter, SLPSrvURLCallback* callback, void* pvCookie);

SLPError SLPFindAttrs(SLPHandle hSLP, const char* pcURLOrServiceType, const char* pcScopeList,
                      const char* pcAttrIds, SLPAttrCallback* callback, void* pvCookie);

/* The result is one block, released with SLPFree. */
SLPError SLPParseSrvURL(const char* pcSrvURL, SLPSrvURL** ppSrvURL);

/* The value of one attribute, unescaped, released with SLPFree; SLP_PARSE_ERROR when no
 * well-formed part of the list holds the attribute. Malformed parts are passed over, so one bad
 * attribute does not hide the others. A keyword attribute yields "". */
SLPError SLPParseAttrs(const char* pcAttrList, const char* pcAttrId, char** ppcAttrVal);

void SLPFree(void* pvMem);

/* Not part of RFC 2614: the value a property takes in this process when the configuration file
 * does not set it, in place of the library's own default. Handles opened afterwards see it.
 * SLP_PARAMETER_BAD for a name or value that a configuration file line could not hold. */
SLPError SLPSetPropertyDefault(const char* pcName, const char* pcValue);

#ifdef __cplusplus
}
#endif

#endif
