// Wiping a remembered authorization; see CSealedAuthorization.h.
#include "core/seal/CSealedAuthorization.h"

#include <openssl/crypto.h>

namespace {

// Grows the string to its capacity first, so that characters of an earlier, longer value that
// still sit past its end are overwritten too.
void WipeText(std::u16string& text) {
    text.resize(text.capacity());
    OPENSSL_cleanse(text.data(), text.size() * sizeof(char16_t));
    text.clear();
}

} // namespace

void CSealedAuthorization::Wipe() {
    WipeText(strPassword);
    WipeText(strUserName);
}

void WipeAll(std::vector<CSealedAuthorization>& records) {
    for (CSealedAuthorization& record : records) {
        record.Wipe();
    }
    records.clear();
}
