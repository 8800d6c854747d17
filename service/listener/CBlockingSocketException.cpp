#include "service/listener/CBlockingSocketException.h"

#include "platform/text/TextConv.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

CBlockingSocketException::CBlockingSocketException(const char* pszOperation)
    : CBlockingSocketException(pszOperation, errno) {}

CBlockingSocketException::CBlockingSocketException(const char* pszOperation, int nSocketError)
    : m_strOperation(Utf8ToUtf16(pszOperation)), m_nSocketError(nSocketError) {
    char text[200];
    if (m_nSocketError == 0) {
        std::snprintf(text, sizeof text, "%s error", pszOperation);
    } else {
        std::snprintf(text, sizeof text, "%s error #%d", pszOperation, m_nSocketError);
    }
    m_strWhat = text;
}

std::u16string CBlockingSocketException::ErrorText() const {
    return Utf8ToUtf16(m_strWhat);
}

bool CBlockingSocketException::GetErrorText(char16_t* pszText, std::size_t nMaxChars) const {
    if (pszText == nullptr || nMaxChars == 0) {
        return true;
    }
    const std::u16string text = ErrorText();
    const std::size_t n = std::min(text.size(), nMaxChars - 1);
    std::copy_n(text.begin(), n, pszText);
    pszText[n] = u'\0';
    return true;
}
