// One remembered authorization as the sealed file holds it: the array, where it was reached, the
// administrator credentials an operator verified there, and when.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CSealedAuthorization {
    std::u16string strMAC;
    std::string strAuthorizedIP;
    std::u16string strUserName;
    std::u16string strPassword;
    std::int64_t nAuthorizedAt = 0; // Unix seconds
    std::int64_t nVerifiedAt = 0;   // Unix seconds

    // Overwrites the credentials' characters (the whole capacity) before clearing them, so that
    // a record let go leaves no password behind in freed memory.
    void Wipe();
    bool operator==(const CSealedAuthorization&) const = default;
};

// Wipes every record, then empties the list.
void WipeAll(std::vector<CSealedAuthorization>& records);
