#include "platform/tls/TlsErrors.h"

#include <openssl/err.h>

std::string TakeTlsErrors(std::string_view context) {
    std::string text(context);
    const char* separator = text.empty() ? "" : ": ";
    // The reasons alone: they are what an operator can act on, and log lines are short.
    while (const unsigned long code = ERR_get_error()) {
        const char* reason = ERR_reason_error_string(code);
        text += separator;
        text += reason != nullptr ? reason : "unknown error";
        separator = "; ";
    }
    return text;
}
