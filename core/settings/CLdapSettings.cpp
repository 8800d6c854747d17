// The [ldap] section's checks and defaults; see CLdapSettings.h.
#include "core/settings/CLdapSettings.h"

#include "core/settings/SecretFile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <unistd.h>

namespace {

constexpr std::string_view kClearScheme = "ldap://";
constexpr std::string_view kTlsScheme = "ldaps://";
constexpr std::string_view kPlaceholder = "%s";
constexpr int kMinTimeout = 1;
constexpr int kMaxTimeout = 60;

constexpr std::array<std::string_view, 12> kKeys{
    "uri",         "starttls",     "allow_clear_text",   "ca_file",         "base",
    "user_filter", "bind_dn",      "bind_password_file", "group_attribute", "group_filter",
    "timeout",     "cache_seconds"};

using OptError = std::optional<SSettingsError>;

SSettingsError At(const SIniEntry& entry, std::string reason) {
    return {entry.line, entry.key + ": " + std::move(reason)};
}

OptError ReadBool(const SIniEntry* entry, bool& out) {
    if (entry == nullptr) {
        return {};
    }
    if (entry->value == "true" || entry->value == "false") {
        out = entry->value == "true";
        return {};
    }
    return At(*entry, "expected true or false, not '" + entry->value + "'");
}

OptError ReadUris(const SIniEntry& entry, std::vector<std::string>& uris) {
    std::size_t from = 0;
    const std::string_view text = entry.value;
    while ((from = text.find_first_not_of(" \t", from)) != std::string_view::npos) {
        const auto end = std::min(text.find_first_of(" \t", from), text.size());
        const std::string_view uri = text.substr(from, end - from);
        const std::string_view scheme = uri.starts_with(kTlsScheme) ? kTlsScheme : kClearScheme;
        if (!uri.starts_with(kClearScheme) && !uri.starts_with(kTlsScheme)) {
            return At(entry, "'" + std::string(uri) + "' is neither ldaps:// nor ldap://");
        }
        if (uri.size() == scheme.size() || uri[scheme.size()] == '/') {
            return At(entry, "'" + std::string(uri) + "' names no server");
        }
        uris.emplace_back(uri);
        from = end;
    }
    if (uris.empty()) {
        return At(entry, "names no server");
    }
    return {};
}

OptError ReadFilter(const SIniEntry* entry, std::string& out) {
    if (entry == nullptr) {
        return {};
    }
    const std::string& filter = entry->value;
    if (filter.size() < 2 || filter.front() != '(' || filter.back() != ')') {
        return At(*entry, "a filter is written in parentheses");
    }
    if (filter.find(kPlaceholder) == std::string::npos) {
        return At(*entry, "the filter has no %s where the name goes");
    }
    out = filter;
    return {};
}

OptError ReadSeconds(const SIniEntry* entry, int least, int most, std::chrono::seconds& out) {
    if (entry == nullptr) {
        return {};
    }
    int seconds = 0;
    const char* first = entry->value.data();
    const char* last = first + entry->value.size();
    const auto [end, ec] = std::from_chars(first, last, seconds);
    if (ec != std::errc() || end != last || seconds < least || seconds > most) {
        return At(*entry, "expected a number of seconds from " + std::to_string(least) + " to " +
                              std::to_string(most) + ", not '" + entry->value + "'");
    }
    out = std::chrono::seconds(seconds);
    return {};
}

std::filesystem::path InFolder(const std::filesystem::path& folder, const std::string& name) {
    const std::filesystem::path path(name);
    return path.is_absolute() ? path : folder / path;
}

OptError CheckKeys(const SIniSection& section) {
    for (const auto& entry : section.entries) {
        if (std::find(kKeys.begin(), kKeys.end(), entry.key) == kKeys.end()) {
            return SSettingsError{entry.line, "unknown key '" + entry.key + "' in [ldap]"};
        }
    }
    return {};
}

OptError ReadTransport(const SIniSection& section, CLdapSettings& s) {
    const SIniEntry* uri = section.Find("uri");
    if (uri == nullptr) {
        return SSettingsError{section.line, "[ldap] needs a uri"};
    }
    if (auto e = ReadUris(*uri, s.uris)) {
        return e;
    }
    if (auto e = ReadBool(section.Find("starttls"), s.startTls)) {
        return e;
    }
    if (auto e = ReadBool(section.Find("allow_clear_text"), s.allowClearText)) {
        return e;
    }
    for (const auto& u : s.uris) {
        if (u.starts_with(kClearScheme) && !s.startTls && !s.allowClearText) {
            return At(*uri, u + " would send passwords in clear text: set starttls = true (or "
                                "allow_clear_text = true, for a lab only)");
        }
    }
    if (auto e = ReadSeconds(section.Find("timeout"), kMinTimeout, kMaxTimeout, s.timeout)) {
        return e;
    }
    return ReadSeconds(section.Find("cache_seconds"), 0,
                       static_cast<int>(CLdapSettings::kMaxCacheTime.count()), s.cacheTime);
}

OptError ReadCaFile(const SIniSection& section, const std::filesystem::path& folder,
                    CLdapSettings& s) {
    const SIniEntry* ca = section.Find("ca_file");
    if (ca == nullptr) {
        return {};
    }
    s.caFile = InFolder(folder, ca->value);
    if (ca->value.empty() || ::access(s.caFile.c_str(), R_OK) != 0) {
        return At(*ca, "cannot read '" + s.caFile.string() + "'");
    }
    return {};
}

OptError ReadSearchAccount(const SIniSection& section, const std::filesystem::path& folder,
                           CLdapSettings& s) {
    const SIniEntry* dn = section.Find("bind_dn");
    const SIniEntry* file = section.Find("bind_password_file");
    if (dn != nullptr && file == nullptr) {
        return At(*dn, "needs bind_password_file beside it");
    }
    if (file != nullptr && dn == nullptr) {
        return At(*file, "needs bind_dn beside it");
    }
    if (dn == nullptr) {
        return {};
    }
    if (dn->value.empty()) {
        return At(*dn, "is empty");
    }
    s.bindDn = dn->value;
    s.bindPasswordFile = InFolder(folder, file->value);
    if (std::string reason = ReadOwnSecretFile(s.bindPasswordFile, s.bindPassword);
        !reason.empty()) {
        return At(*file, std::move(reason));
    }
    return {};
}

OptError ReadGroups(const SIniSection& section, CLdapSettings& s) {
    const SIniEntry* attribute = section.Find("group_attribute");
    const SIniEntry* filter = section.Find("group_filter");
    if (attribute != nullptr && filter != nullptr) {
        const SIniEntry& later = attribute->line > filter->line ? *attribute : *filter;
        return At(later, "give group_attribute or group_filter, not both");
    }
    if (attribute != nullptr) {
        if (attribute->value.empty()) {
            return At(*attribute, "is empty");
        }
        s.groupAttribute = attribute->value;
    }
    if (auto e = ReadFilter(filter, s.groupFilter)) {
        return e;
    }
    if (!s.groupFilter.empty()) {
        s.groupAttribute.clear();
    }
    return {};
}

} // namespace

std::optional<SSettingsError> CLdapSettings::Read(const SIniSection& section,
                                                  const std::filesystem::path& folder,
                                                  CLdapSettings& settings) {
    CLdapSettings s;
    if (auto e = CheckKeys(section)) {
        return e;
    }
    if (auto e = ReadTransport(section, s)) {
        return e;
    }
    const SIniEntry* base = section.Find("base");
    if (base == nullptr || base->value.empty()) {
        return SSettingsError{base ? base->line : section.line, "[ldap] needs a base"};
    }
    s.base = base->value;
    for (auto* step : {&ReadCaFile, &ReadSearchAccount}) {
        if (auto e = step(section, folder, s)) {
            return e;
        }
    }
    if (auto e = ReadFilter(section.Find("user_filter"), s.userFilter)) {
        return e;
    }
    if (auto e = ReadGroups(section, s)) {
        return e;
    }
    settings = std::move(s);
    return {};
}

SLdapOptions CLdapSettings::ConnectionOptions() const {
    return {uris, startTls, caFile.string(), timeout};
}

SLdapDirectoryOptions CLdapSettings::DirectoryOptions() const {
    SLdapDirectoryOptions options;
    options.base = base;
    options.userFilter = userFilter;
    options.bindDn = bindDn;
    options.bindPassword = CSecretBytes::CopyOf(bindPassword.Bytes());
    options.groupAttribute = groupAttribute;
    options.groupFilter = groupFilter;
    return options;
}
