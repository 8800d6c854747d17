// The program's settings file, $XDG_CONFIG_HOME/OrvaneSrv/orvanesrv.conf: read whole and checked
// before anything uses it, so that a mistake is refused with its line and reason instead of half
// taking effect. No file means every feature it configures stays off.
#pragma once

#include "core/settings/CLdapSettings.h"
#include "core/settings/SettingsError.h"

#include <filesystem>
#include <optional>
#include <string_view>

// The settings, or why they were refused.
struct SSettingsLoad {
    std::optional<SSettingsError> error;
    std::optional<CLdapSettings> ldap; // set when the file has an [ldap] section

    bool Ok() const { return !error.has_value(); }
};

struct CProgramSettings {
    static constexpr std::string_view kFileName = "orvanesrv.conf";

    // $XDG_CONFIG_HOME/OrvaneSrv/orvanesrv.conf, or ~/.config/OrvaneSrv/orvanesrv.conf.
    static std::filesystem::path DefaultPath();
    // Reads and checks the file; a missing file gives empty settings, not an error.
    static SSettingsLoad Load(const std::filesystem::path& path);
    // Checks settings text; relative file names in it are taken from folder.
    static SSettingsLoad Parse(std::string_view text, const std::filesystem::path& folder);
};
