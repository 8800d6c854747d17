#include "service/listener/CBlockingSocketException.h"

#include <cerrno>
#include <cstdio>

CBlockingSocketException::CBlockingSocketException(const char* pszOperation)
    : CBlockingSocketException(pszOperation, errno) {}

CBlockingSocketException::CBlockingSocketException(const char* pszOperation, int nSocketError)
    : m_nSocketError(nSocketError) {
    char text[200];
    if (m_nSocketError == 0) {
        std::snprintf(text, sizeof text, "%s error", pszOperation);
    } else {
        std::snprintf(text, sizeof text, "%s error #%d", pszOperation, m_nSocketError);
    }
    m_strWhat = text;
}
