// Loading the program's settings file; see CProgramSettings.h.
#include "core/settings/CProgramSettings.h"

#include "core/settings/IniText.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr std::string_view kProgramFolder = "OrvaneSrv";
constexpr std::string_view kLdapSection = "ldap";
// Far beyond any hand-written settings file: a larger one is a wrong path, not settings.
constexpr std::uintmax_t kMaxFileSize = 1U << 20U;

} // namespace

std::filesystem::path CProgramSettings::DefaultPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path folder;
    if (config != nullptr && *config == '/') {
        folder = config;
    } else {
        const char* home = std::getenv("HOME");
        folder = std::filesystem::path(home != nullptr ? home : "") / ".config";
    }
    return folder / kProgramFolder / kFileName;
}

SSettingsLoad CProgramSettings::Load(const std::filesystem::path& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        return {};
    }
    if (ec || status.type() != std::filesystem::file_type::regular) {
        return {SSettingsError{0, path.string() + " is not a readable file"}, {}};
    }
    if (std::filesystem::file_size(path, ec) > kMaxFileSize || ec) {
        return {SSettingsError{0, path.string() + " is too large for a settings file"}, {}};
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in.good() && !in.eof()) {
        return {SSettingsError{0, "cannot read " + path.string() + ": " + std::strerror(errno)},
                {}};
    }
    return Parse(text.str(), path.parent_path());
}

SSettingsLoad CProgramSettings::Parse(std::string_view text, const std::filesystem::path& folder) {
    SIniText ini = ParseIniText(text);
    if (ini.error) {
        return {std::move(ini.error), {}};
    }
    SSettingsLoad load;
    for (const auto& section : ini.sections) {
        if (section.name != kLdapSection) {
            return {SSettingsError{section.line, "unknown section [" + section.name + "]"}, {}};
        }
        CLdapSettings ldap;
        if (auto error = CLdapSettings::Read(section, folder, ldap)) {
            return {std::move(error), {}};
        }
        load.ldap = std::move(ldap);
    }
    return load;
}
