// The System tab's Login button after a mouse click in the server list: of the selected rows,
// from the top, the first whose MAC address text has a record decides by that record's product
// classification; with no such row, or nothing selected, the button is disabled.
#pragma once

#include "platform/sync/CTableGuard.h"
#include "storage/CServerTable.h"

#include <span>
#include <string>

// selectedMacs: the MAC address column of the selected rows, top first. Window thread.
bool IsLoginEnabled(const CServerTable& table, const CTableGuard& guard,
                    std::span<const std::u16string> selectedMacs);
// The place in selectedMacs of the MAC address that decides (the first with a record), or npos
// when none has one: what the button's tip names when it is greyed. Window thread.
inline constexpr std::size_t kNoDecidingMac = static_cast<std::size_t>(-1);
std::size_t DecidingMac(const CServerTable& table, const CTableGuard& guard,
                        std::span<const std::u16string> selectedMacs);
