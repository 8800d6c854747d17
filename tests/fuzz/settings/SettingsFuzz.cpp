// Feeds arbitrary bytes to the settings file's reader, and arbitrary names to the filter escaping.
// Settings are either refused with a line inside the text and a reason, or taken whole with every
// rule of the [ldap] section kept; an escaped name never leaves its filter value.
#include "core/settings/CProgramSettings.h"
#include "platform/ldap/LdapEscape.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void CheckSettings(std::string_view text) {
    // No file named in the text can be found there, so no password file can be taken.
    const SSettingsLoad load = CProgramSettings::Parse(text, "/nonexistent-orvane-fuzz");
    const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
    if (!load.Ok()) {
        Require(!load.ldap && load.error->line >= 1 && load.error->line <= lines &&
                !load.error->reason.empty());
        return;
    }
    if (!load.ldap) {
        return;
    }
    const CLdapSettings& s = *load.ldap;
    Require(!s.uris.empty() && !s.base.empty() && s.bindDn.empty());
    Require(s.userFilter.find("%s") != std::string::npos);
    Require(s.groupAttribute.empty() != s.groupFilter.empty());
    Require(s.timeout.count() >= 1 && s.timeout.count() <= 60);
    for (const auto& uri : s.uris) {
        Require(uri.starts_with("ldaps://") ||
                (uri.starts_with("ldap://") && (s.startTls || s.allowClearText)));
    }
}

void CheckEscape(std::string_view name) {
    for (const char c : LdapEscapeFilterValue(name)) {
        const auto byte = static_cast<unsigned char>(c);
        Require(byte >= 0x20 && byte < 0x7f && c != '*' && c != '(' && c != ')');
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckSettings(text);
    CheckEscape(text);
    return 0;
}
