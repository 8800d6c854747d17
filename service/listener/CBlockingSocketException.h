// The one error type of the credential service's socket layer. It names the operation that
// failed and carries the errno value read when the failure was noticed (0 for timeouts and for
// a peer that closed before a line was complete).
#pragma once

#include <exception>
#include <string>

class CBlockingSocketException : public std::exception {
public:
    // Reads errno at construction.
    explicit CBlockingSocketException(const char* pszOperation);
    CBlockingSocketException(const char* pszOperation, int nSocketError);

    // "<operation> error" when the code is 0, else "<operation> error #<code>".
    const char* what() const noexcept override { return m_strWhat.c_str(); }

    int m_nSocketError = 0;

private:
    std::string m_strWhat;
};
