#include "console/UnmatchedAccess.h"

std::vector<std::u16string> UnmatchedAccess(std::span<const std::u16string> access,
                                            std::unordered_set<std::u16string> rowMacs) {
    std::vector<std::u16string> unmatched;
    for (const std::u16string& mac : access) {
        if (rowMacs.insert(mac).second) {
            unmatched.push_back(mac);
        }
    }
    return unmatched;
}
