// Where discovery and the login client plug into the System tab. Each hook may be left empty;
// the tab then does its own part of the work (the buttons, the dialog, the cells) and nothing
// more.
#pragma once

#include "control/CLoginPress.h"
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
    // One Login press: the servers of the rows selected when it was pressed and still as they
    // were after the Login Dialog (CLoginClient::Login), and the selected ones given no login,
    // for the press's one box (CLoginPress); the tab has set the sent ones' Auth cells to
    // "Logging".
    std::function<void(std::vector<CLoginTarget> targets, std::vector<CLoginSkipped> skipped,
                       std::u16string user, std::u16string password)>
        login = {};
    // Where the arrays of these MAC addresses stand for a login, in their order; nothing for an
    // array without a record (COrvaneSrvCore::LoginCandidates, whose bSupported is the
    // directory's one rule of which arrays take a login). No hook: none takes one.
    std::function<std::vector<std::optional<CLoginCandidate>>(std::span<const std::u16string> macs)>
        loginCandidates = {};
    // How the last logins to the array of a MAC address ended, for its Auth cell's tip. No hook:
    // no tip.
    std::function<CLoginHistory(const std::u16string& mac)> loginHistory = {};
};
