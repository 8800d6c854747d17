#include "platform/tls/TlsErrors.h"

#include <openssl/err.h>

std::string TakeTlsErrors(std::string_view context) {
    std::string text(context);
    const char* separator = text.empty() ? "" : ": ";
    char entry[256];
    while (const unsigned long code = ERR_get_error()) {
        ERR_error_string_n(code, entry, sizeof entry);
        text += separator;
        text += entry;
        separator = "; ";
    }
    return text;
}
