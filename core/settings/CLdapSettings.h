// The [ldap] section of the settings file, checked and with its defaults filled in: how users of
// the site's directory are found and signed in.
#pragma once

#include "core/settings/IniText.h"
#include "core/settings/SettingsError.h"
#include "platform/crypto/CSecretBytes.h"
#include "platform/ldap/CLdapConnection.h"
#include "platform/ldap/CLdapDirectory.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct CLdapSettings {
    static constexpr std::string_view kDefaultUserFilter = "(&(objectClass=person)(uid=%s))";
    static constexpr std::string_view kDefaultGroupAttribute = "memberOf";
    static constexpr std::chrono::seconds kDefaultTimeout{5};
    // A sign-in's group list is reused for at most this long, so that a changed password or
    // group in the directory shows within it; the file may only shorten it.
    static constexpr std::chrono::seconds kMaxCacheTime{60};

    std::vector<std::string> uris;
    bool startTls = false;
    bool allowClearText = false;
    std::filesystem::path caFile;
    std::string base;
    std::string userFilter{kDefaultUserFilter};
    std::string bindDn;
    std::filesystem::path bindPasswordFile;
    // Read from bindPasswordFile when the settings were loaded.
    CSecretBytes bindPassword;
    // Exactly one of the two is set: the filter when the file names one.
    std::string groupAttribute{kDefaultGroupAttribute};
    std::string groupFilter;
    std::chrono::seconds timeout = kDefaultTimeout;
    std::chrono::seconds cacheTime = kMaxCacheTime;

    // The checked settings of an [ldap] section; relative file names are taken from folder, and
    // the search account's password is read here.
    static std::optional<SSettingsError>
    Read(const SIniSection& section, const std::filesystem::path& folder, CLdapSettings& settings);

    // What the directory client takes.
    SLdapOptions ConnectionOptions() const;
    SLdapDirectoryOptions DirectoryOptions() const;
};
