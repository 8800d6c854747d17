// What the sealed file's tests share: a key, a few records that stress the text encoding, and a
// sealed file of them.
#pragma once

#include "core/seal/CSealedFile.h"

#include <string>
#include <vector>

inline const CSecretBytes& TestSealKey() {
    static const CSecretBytes key = CSecretBytes::Random(kAeadKeyBytes);
    return key;
}

inline std::vector<CSealedAuthorization> TestRecords() {
    return {
        {u"00:11:22:33:44:55", "192.0.2.10", u"admin", u"p\u00e4ss \u20ac", 1700000000, 1700000100},
        // A pair of surrogates, and a lone one that must come back as typed.
        {u"00:11:22:33:44:66", "192.0.2.11", u"\U0001F511", std::u16string(u"x\xD800y"), -1, 0},
        {u"", "", u"", u"", 0, 0},
    };
}

inline std::string
TestSealedFile(const std::vector<CSealedAuthorization>& records = TestRecords()) {
    return SealFile(CSealHeader{}, TestSealKey().Bytes(), records);
}
