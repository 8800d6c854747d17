// The Login button's state from the selected rows' records.
#include "storage/IsLoginEnabled.h"

#include "storage/IsSupportedProduct.h"

bool IsLoginEnabled(const CServerTable& table, const CTableGuard& guard,
                    std::span<const std::u16string> selectedMacs) {
    auto lock = guard.LockShared();
    if (!guard.m_bTablesAlive) {
        return false;
    }
    for (const std::u16string& mac : selectedMacs) {
        if (const CServerData* record = table.Find(mac)) {
            return IsSupportedProduct(*record);
        }
    }
    return false;
}

std::size_t DecidingMac(const CServerTable& table, const CTableGuard& guard,
                        std::span<const std::u16string> selectedMacs) {
    auto lock = guard.LockShared();
    for (std::size_t i = 0; guard.m_bTablesAlive && i < selectedMacs.size(); ++i) {
        if (table.Find(selectedMacs[i]) != nullptr) {
            return i;
        }
    }
    return kNoDecidingMac;
}
