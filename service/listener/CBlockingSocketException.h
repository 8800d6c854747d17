// The one error type of the credential service's socket layer. It names the operation that
// failed and carries the errno value read when the failure was noticed (0 for timeouts and for
// a peer that closed before a line was complete).
#pragma once

#include <cstddef>
#include <exception>
#include <string>

class CBlockingSocketException : public std::exception {
public:
    // Reads errno at construction.
    explicit CBlockingSocketException(const char* pszOperation);
    CBlockingSocketException(const char* pszOperation, int nSocketError);

    // "<operation> error" when the code is 0, else "<operation> error #<code>", cut to fit
    // nMaxChars - 1 characters and terminated. Always answers true.
    bool GetErrorText(char16_t* pszText, std::size_t nMaxChars) const;
    std::u16string ErrorText() const;

    const char* what() const noexcept override { return m_strWhat.c_str(); }

    std::u16string m_strOperation;
    int m_nSocketError = 0;

private:
    std::string m_strWhat;
};
