// Where discovery and the login client plug into the System tab. Each hook may be left empty;
// the tab then does its own part of the work (the buttons, the dialog, the cells) and nothing
// more.
#pragma once

#include <functional>
#include <span>
#include <string>

struct CSystemTabHooks {
    // Tab initialisation, after the list's columns exist: the first discovery pass
    // (CServerDiscovery::StartFirstPass).
    std::function<void()> startFirstPass = {};
    // Timer 111: a new pass unless one runs (CServerDiscovery::OnTimer).
    std::function<void()> onTimer = {};
    // Refresh button, after the tab has disabled it (CServerDiscovery::OnRefresh, whose
    // enableRefresh hook is CTabSystem::EnableRefresh).
    std::function<void()> onRefresh = {};
    // The Login button's state after a mouse click in the list, from the MAC address texts of
    // the selected rows, top first (IsLoginEnabled).
    std::function<bool(std::span<const std::u16string> selectedMacs)> isLoginEnabled = {};
    // One login for a selected row (CLoginClient::Login); the tab sets the row's Auth cell to
    // "Logging" right after.
    std::function<void(std::u16string mac, std::u16string ip, std::u16string user,
                       std::u16string password)>
        login = {};
};
