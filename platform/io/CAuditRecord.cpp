// The audit record's JSON line, written and read back; see CAuditRecord.h.
#include "platform/io/CAuditRecord.h"

#include "platform/text/TextConv.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr unsigned kFirstPrintable = 0x20;
constexpr unsigned kFirstNonAscii = 0x80;
constexpr std::string_view kHex = "0123456789abcdef";

void AppendUnicodeEscape(std::string& out, unsigned code) {
    constexpr unsigned kNibble = 4;
    constexpr unsigned kNibbleMask = 0xF;
    out += "\\u";
    for (int shift = 3; shift >= 0; --shift) {
        out += kHex[(code >> (static_cast<unsigned>(shift) * kNibble)) & kNibbleMask];
    }
}

// Reads a JSON string starting after its opening quote; pos ends after the closing one.
std::optional<std::string> ReadString(std::string_view line, std::size_t& pos) {
    std::u16string pending; // a \u escape's code units, joined so surrogate pairs combine
    std::string out;
    const auto flush = [&] {
        if (!pending.empty()) {
            out += Utf16ToUtf8(pending);
            pending.clear();
        }
    };
    while (pos < line.size()) {
        const char c = line[pos++];
        if (c == '"') {
            flush();
            return out;
        }
        if (c != '\\') {
            flush();
            out += c;
            continue;
        }
        if (pos >= line.size()) {
            return std::nullopt;
        }
        const char e = line[pos++];
        if (e == 'u') {
            constexpr std::size_t kDigits = 4;
            constexpr int kBase = 16;
            if (pos + kDigits > line.size()) {
                return std::nullopt;
            }
            const std::string digits(line.substr(pos, kDigits));
            char* end = nullptr;
            const long code = std::strtol(digits.c_str(), &end, kBase);
            if (end != digits.c_str() + kDigits) {
                return std::nullopt;
            }
            pending += static_cast<char16_t>(code);
            pos += kDigits;
            continue;
        }
        flush();
        constexpr std::string_view kFrom = "\"\\/bfnrt";
        constexpr std::string_view kTo = "\"\\/\b\f\n\r\t";
        const std::size_t at = kFrom.find(e);
        if (at == std::string_view::npos) {
            return std::nullopt;
        }
        out += kTo[at];
    }
    return std::nullopt;
}

void SkipBlanks(std::string_view line, std::size_t& pos) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) {
        ++pos;
    }
}

} // namespace

CAuditRecord::CAuditRecord(std::string_view event, std::string_view source)
    : m_strEvent(event), m_strSource(source) {}

CAuditRecord& CAuditRecord::Add(std::string_view key, std::string_view value) {
    m_fields.push_back({std::string(key), std::string(value), true});
    return *this;
}

CAuditRecord& CAuditRecord::AddNumber(std::string_view key, uint64_t value) {
    m_fields.push_back({std::string(key), std::to_string(value), false});
    return *this;
}

CAuditRecord& CAuditRecord::AddBool(std::string_view key, bool value) {
    m_fields.push_back({std::string(key), value ? "true" : "false", false});
    return *this;
}

std::string CAuditRecord::TimeText(Clock::time_point when) {
    constexpr int kMillisPerSecond = 1000;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
    std::time_t seconds = static_cast<std::time_t>(ms.count() / kMillisPerSecond);
    int millis = static_cast<int>(ms.count() % kMillisPerSecond);
    if (millis < 0) {
        millis += kMillisPerSecond;
        --seconds;
    }
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    std::array<char, 32> text{};
    const std::size_t n = std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S", &utc);
    std::array<char, 8> fraction{};
    std::snprintf(fraction.data(), fraction.size(), ".%03dZ", millis);
    return std::string(text.data(), n) + fraction.data();
}

void CAuditRecord::AppendJsonString(std::string& out, std::string_view text) {
    // Malformed UTF-8 becomes U+FFFD: a reader of the trail gets valid JSON whatever was sent.
    const bool bAscii = std::none_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) >= kFirstNonAscii;
    });
    const std::string wellFormed = bAscii ? std::string() : Utf16ToUtf8(Utf8ToUtf16(text));
    const std::string_view source = bAscii ? text : std::string_view(wellFormed);
    out += '"';
    for (std::size_t i = 0; i < source.size(); ++i) {
        const auto c = static_cast<unsigned char>(source[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < kFirstPrintable || c == 0x7F) {
            AppendUnicodeEscape(out, c);
        } else if (c == 0xE2 && i + 2 < source.size() && source[i + 1] == '\x80' &&
                   (source[i + 2] == '\xA8' || source[i + 2] == '\xA9')) {
            // U+2028 and U+2029 end lines for some readers of the file.
            AppendUnicodeEscape(out, source[i + 2] == '\xA8' ? 0x2028 : 0x2029);
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

std::string CAuditRecord::JsonLine(Clock::time_point when) const {
    std::string line = "{\"time\":\"" + TimeText(when) + "\",\"event\":";
    AppendJsonString(line, m_strEvent);
    line += ",\"source\":";
    AppendJsonString(line, m_strSource);
    for (const CField& field : m_fields) {
        line += ',';
        AppendJsonString(line, field.key);
        line += ':';
        if (field.bText) {
            AppendJsonString(line, field.value);
        } else {
            line += field.value;
        }
    }
    line += "}\n";
    return line;
}

std::optional<std::vector<std::pair<std::string, std::string>>>
CAuditRecord::ParseJsonLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    std::vector<std::pair<std::string, std::string>> members;
    std::size_t pos = 0;
    SkipBlanks(line, pos);
    if (pos >= line.size() || line[pos++] != '{') {
        return std::nullopt;
    }
    SkipBlanks(line, pos);
    if (pos < line.size() && line[pos] == '}') {
        ++pos;
        SkipBlanks(line, pos);
        return pos == line.size() ? std::optional(members) : std::nullopt;
    }
    for (;;) {
        SkipBlanks(line, pos);
        if (pos >= line.size() || line[pos++] != '"') {
            return std::nullopt;
        }
        auto key = ReadString(line, pos);
        SkipBlanks(line, pos);
        if (!key || pos >= line.size() || line[pos++] != ':') {
            return std::nullopt;
        }
        SkipBlanks(line, pos);
        if (pos >= line.size()) {
            return std::nullopt;
        }
        std::optional<std::string> value;
        if (line[pos] == '"') {
            ++pos;
            value = ReadString(line, pos);
        } else {
            const std::size_t end = line.find_first_of(",} \t", pos);
            const std::string_view token = line.substr(pos, end - pos);
            if (token.empty() || token.find_first_of("{[\"") != std::string_view::npos) {
                return std::nullopt;
            }
            value = std::string(token);
            pos = end == std::string_view::npos ? line.size() : end;
        }
        if (!value) {
            return std::nullopt;
        }
        members.emplace_back(std::move(*key), std::move(*value));
        SkipBlanks(line, pos);
        if (pos >= line.size()) {
            return std::nullopt;
        }
        const char next = line[pos++];
        if (next == '}') {
            SkipBlanks(line, pos);
            return pos == line.size() ? std::optional(members) : std::nullopt;
        }
        if (next != ',') {
            return std::nullopt;
        }
    }
}
