// Where discovery and the login client plug into the System tab. Each hook may be left empty;
// the tab then does its own part of the work (the buttons, the dialog, the cells) and nothing
// more.
#pragma once

#include "core/CLoginCandidate.h"
#include "storage/CLoginTarget.h"

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct CSystemTabHooks {
    // Tab initialisation, after the list's columns exist: the first discovery pass
    // (CServerDiscovery::StartFirstPass).
    std::function<void()> startFirstPass = {};
    // Timer 111: a new pass unless one runs (CServerDiscovery::OnTimer).
    std::function<void()> onTimer = {};
    // Refresh button, after the tab has disabled it (CServerDiscovery::OnRefresh, whose
    // enableRefresh hook is CTabSystem::EnableRefresh).
    std::function<void()> onRefresh = {};
    // The Login button's state after any change of the selection, from the MAC address texts of
    // the selected rows, top first (IsLoginEnabled).
    std::function<bool(std::span<const std::u16string> selectedMacs)> isLoginEnabled = {};
    // Which of those MAC addresses decides (DecidingMac), for the greyed button's tip; npos or
    // no hook: none does.
    std::function<std::size_t(std::span<const std::u16string> selectedMacs)> decidingMac = {};
    // One Login press: the servers of the rows selected when it was pressed and still as they
    // were after the Login Dialog (CLoginClient::Login); the tab has set their Auth cells to
    // "Logging".
    std::function<void(std::vector<CLoginTarget> targets, std::u16string user,
                       std::u16string password)>
        login = {};
    // Where the array of a MAC address stands for a login (COrvaneSrvCore::LoginCandidate). No
    // hook: every supported array is known and at its own address.
    std::function<std::optional<CLoginCandidate>(const std::u16string& mac)> loginCandidate = {};
};
