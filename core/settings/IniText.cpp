// The INI reader; see IniText.h.
#include "core/settings/IniText.h"

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool HasControlBytes(std::string_view line) {
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t') || byte == 0x7f) {
            return true;
        }
    }
    return false;
}

bool IsName(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        if (!ok) {
            return false;
        }
    }
    return true;
}

// One line of the text; returns an error's reason, empty when the line was taken.
std::string TakeLine(std::string_view line, int number, SIniText& ini) {
    if (HasControlBytes(line)) {
        return "control characters are not allowed";
    }
    const std::string_view text = Trim(line);
    if (text.empty() || text.front() == '#' || text.front() == ';') {
        return {};
    }
    if (text.front() == '[') {
        if (text.back() != ']') {
            return "a section header must end with ']'";
        }
        const std::string_view name = Trim(text.substr(1, text.size() - 2));
        if (!IsName(name)) {
            return "a section name must be letters, digits, '_', '-' or '.'";
        }
        for (const auto& section : ini.sections) {
            if (section.name == name) {
                return "section [" + std::string(name) + "] appears twice (first on line " +
                       std::to_string(section.line) + ")";
            }
        }
        ini.sections.push_back({std::string(name), number, {}});
        return {};
    }
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) {
        return "expected 'key = value', a [section] or a comment";
    }
    const std::string_view key = Trim(text.substr(0, equals));
    if (!IsName(key)) {
        return "a key must be letters, digits, '_', '-' or '.'";
    }
    if (ini.sections.empty()) {
        return "key '" + std::string(key) + "' comes before any [section]";
    }
    SIniSection& section = ini.sections.back();
    if (const SIniEntry* earlier = section.Find(key)) {
        return "key '" + std::string(key) + "' is given twice (first on line " +
               std::to_string(earlier->line) + ")";
    }
    section.entries.push_back(
        {std::string(key), std::string(Trim(text.substr(equals + 1))), number});
    return {};
}

} // namespace

const SIniEntry* SIniSection::Find(std::string_view key) const {
    for (const auto& entry : entries) {
        if (entry.key == key) {
            return &entry;
        }
    }
    return nullptr;
}

SIniText ParseIniText(std::string_view text) {
    SIniText ini;
    // Some editors start a UTF-8 file with a byte order mark; it is no part of the first line.
    constexpr std::string_view kByteOrderMark = "\xef\xbb\xbf";
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }
    int number = 0;
    std::size_t from = 0;
    while (from < text.size()) {
        auto end = text.find('\n', from);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(from, end - from);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        ++number;
        if (std::string reason = TakeLine(line, number, ini); !reason.empty()) {
            ini.error = SSettingsError{number, std::move(reason)};
            return ini;
        }
        from = end + 1;
    }
    return ini;
}
