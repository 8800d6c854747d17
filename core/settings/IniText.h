// The program's settings file read as INI text: [sections], "key = value" lines, '#' and ';'
// comment lines and blank lines. Values are trimmed and end at the line's end (no continuation
// lines, no quoting). Only the shape is checked here; what the keys mean is the caller's.
#pragma once

#include "core/settings/SettingsError.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SIniEntry {
    std::string key;
    std::string value;
    int line = 0;
};

struct SIniSection {
    std::string name;
    int line = 0;
    std::vector<SIniEntry> entries;

    const SIniEntry* Find(std::string_view key) const;
};

struct SIniText {
    std::vector<SIniSection> sections;
    // Set when the text is malformed; sections are then incomplete.
    std::optional<SSettingsError> error;
};

// Refuses a key outside a section, a section or a key given twice, a line that is neither a
// section, an entry nor a comment, and control characters.
SIniText ParseIniText(std::string_view text);
