// The audit record's JSON line, written and read back; see CAuditRecord.h.
#include "core/audit/CAuditRecord.h"

#include "platform/text/TextConv.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

namespace {

constexpr unsigned kFirstPrintable = 0x20;
constexpr unsigned kFirstNonAscii = 0x80;
constexpr unsigned kDelete = 0x7F;
constexpr unsigned char kLeadOfSeparators = 0xE2; // U+2028 and U+2029 start with it
constexpr unsigned char kLeadOfNextLine = 0xC2;   // U+0085 starts with it
constexpr unsigned kNextLine = 0x85;
constexpr unsigned kLineSeparator = 0x2028;
constexpr unsigned kParagraphSeparator = 0x2029;
constexpr std::string_view kHex = "0123456789abcdef";
constexpr std::size_t kTypicalMembersBytes = 128;
constexpr std::size_t kMemberMarksBytes = 6; // ,"":"" around a key and its text

// The bytes written as they are: neither escaped nor the start of a line separator.
constexpr std::array<bool, 256> kPlain = [] {
    std::array<bool, 256> plain{};
    for (unsigned c = kFirstPrintable; c < plain.size(); ++c) {
        plain[c] =
            c != '"' && c != '\\' && c != kDelete && c != kLeadOfSeparators && c != kLeadOfNextLine;
    }
    return plain;
}();

// Eight bytes at once, each as a lane of a word: whether every one is plain ASCII. A lane
// below n borrows into its own top bit, which a lane of ASCII never has set itself.
constexpr uint64_t kLaneOnes = 0x0101010101010101;
constexpr uint64_t kLaneTops = 0x8080808080808080;

constexpr bool AnyLaneBelow(uint64_t word, uint64_t n) {
    return ((word - kLaneOnes * n) & ~word & kLaneTops) != 0;
}

constexpr bool AnyLaneIs(uint64_t word, uint64_t c) {
    return AnyLaneBelow(word ^ (kLaneOnes * c), 1);
}

bool EightPlain(const char* bytes) {
    uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    return (word & kLaneTops) == 0 && !AnyLaneBelow(word, kFirstPrintable) &&
           !AnyLaneIs(word, '"') && !AnyLaneIs(word, '\\') && !AnyLaneIs(word, kDelete);
}

// Eight bytes at a time: most text is ASCII and is checked in one short pass.
bool IsAscii(std::string_view text) {
    uint64_t all = 0;
    std::size_t i = 0;
    for (; i + sizeof all <= text.size(); i += sizeof all) {
        uint64_t word = 0;
        std::memcpy(&word, text.data() + i, sizeof word);
        all |= word;
    }
    for (; i < text.size(); ++i) {
        all |= static_cast<unsigned char>(text[i]);
    }
    return (all & kLaneTops) == 0;
}

// The calendar part of a time text, kept for the second it was worked out for.
struct CSecondText {
    bool bValid = false;
    std::time_t seconds = 0;
    std::array<char, 32> text{};
    std::size_t nLength = 0;
};

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
    : m_strEvent(event), m_strSource(source) {
    m_strMembers.reserve(kTypicalMembersBytes);
}

void CAuditRecord::AppendMemberKey(std::string_view key) {
    m_strMembers += ',';
    AppendJsonString(m_strMembers, key);
    m_strMembers += ':';
}

CAuditRecord& CAuditRecord::Add(std::string_view key, std::string_view value) {
    // One growth for both: the escaped text is at least as long as the raw one.
    m_strMembers.reserve(m_strMembers.size() + key.size() + value.size() + kMemberMarksBytes);
    AppendMemberKey(key);
    AppendJsonString(m_strMembers, value);
    return *this;
}

CAuditRecord& CAuditRecord::AddNumber(std::string_view key, uint64_t value) {
    AppendMemberKey(key);
    std::array<char, std::numeric_limits<uint64_t>::digits10 + 2> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    m_strMembers.append(digits.data(), result.ptr);
    return *this;
}

CAuditRecord& CAuditRecord::AddBool(std::string_view key, bool value) {
    AppendMemberKey(key);
    m_strMembers += value ? "true" : "false";
    return *this;
}

std::vector<std::pair<std::string, std::string>> CAuditRecord::Fields() const {
    if (m_strMembers.empty()) {
        return {};
    }
    // The members were written by the line's own rules: they always read back.
    std::string object = "{";
    object.append(m_strMembers, 1);
    object += '}';
    return ParseJsonLine(object).value_or(std::vector<std::pair<std::string, std::string>>{});
}

std::string CAuditRecord::TimeText(Clock::time_point when) {
    std::string text;
    AppendTimeText(text, when);
    return text;
}

void CAuditRecord::AppendTimeText(std::string& out, Clock::time_point when) {
    constexpr int kMillisPerSecond = 1000;
    constexpr int kTens = 10;
    constexpr int kHundreds = 100;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
    std::time_t seconds = static_cast<std::time_t>(ms.count() / kMillisPerSecond);
    int millis = static_cast<int>(ms.count() % kMillisPerSecond);
    if (millis < 0) {
        millis += kMillisPerSecond;
        --seconds;
    }
    // Records come many to a second: the calendar is worked out once per second and thread.
    thread_local CSecondText cache;
    if (!cache.bValid || cache.seconds != seconds) {
        std::tm utc{};
        ::gmtime_r(&seconds, &utc);
        cache.nLength =
            std::strftime(cache.text.data(), cache.text.size(), "%Y-%m-%dT%H:%M:%S", &utc);
        cache.seconds = seconds;
        cache.bValid = true;
    }
    out.append(cache.text.data(), cache.nLength);
    const std::array<char, 5> fraction = {'.', static_cast<char>('0' + millis / kHundreds),
                                          static_cast<char>('0' + millis / kTens % kTens),
                                          static_cast<char>('0' + millis % kTens), 'Z'};
    out.append(fraction.data(), fraction.size());
}

void CAuditRecord::AppendJsonString(std::string& out, std::string_view text) {
    // Malformed UTF-8 becomes U+FFFD: a reader of the trail gets valid JSON whatever was sent.
    const bool bAscii = IsAscii(text);
    const std::string wellFormed = bAscii ? std::string() : Utf16ToUtf8(Utf8ToUtf16(text));
    const std::string_view source = bAscii ? text : std::string_view(wellFormed);
    out += '"';
    std::size_t i = 0;
    while (i < source.size()) {
        // Runs of characters that stand for themselves go in one copy.
        std::size_t run = i;
        while (run + sizeof(uint64_t) <= source.size() && EightPlain(source.data() + run)) {
            run += sizeof(uint64_t);
        }
        while (run < source.size() && kPlain[static_cast<unsigned char>(source[run])]) {
            ++run;
        }
        out.append(source.data() + i, run - i);
        i = run;
        if (i >= source.size()) {
            break;
        }
        const auto c = static_cast<unsigned char>(source[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < kFirstPrintable || c == kDelete) {
            AppendUnicodeEscape(out, c);
        } else if (c == kLeadOfSeparators && i + 2 < source.size() && source[i + 1] == '\x80' &&
                   (source[i + 2] == '\xA8' || source[i + 2] == '\xA9')) {
            // U+0085, U+2028 and U+2029 end lines for some readers of the file.
            AppendUnicodeEscape(out,
                                source[i + 2] == '\xA8' ? kLineSeparator : kParagraphSeparator);
            i += 2;
        } else if (c == kLeadOfNextLine && i + 1 < source.size() &&
                   static_cast<unsigned char>(source[i + 1]) == kNextLine) {
            AppendUnicodeEscape(out, kNextLine);
            ++i;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
}

std::string CAuditRecord::JsonLine(Clock::time_point when) const {
    std::string line;
    AppendJsonLine(line, when);
    return line;
}

void CAuditRecord::AppendJsonLine(std::string& out, Clock::time_point when) const {
    out += "{\"time\":\"";
    AppendTimeText(out, when);
    out += "\",\"event\":";
    AppendJsonString(out, m_strEvent);
    out += ",\"source\":";
    AppendJsonString(out, m_strSource);
    out += m_strMembers;
    out += "}\n";
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
