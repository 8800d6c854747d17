// One record of the audit trail: what happened (the event kind), where it came from (console,
// orvanectl, service, import) and the fields that say to whom and to what, in the order added.
// A record becomes one JSON object on one line; it is read back by the same rules, so that
// orvanectl can filter the trail without a JSON library. Values are text, a number or a truth
// value; text that is not well-formed UTF-8 (a user name as a client sent it) is written with
// U+FFFD in place of each malformed sequence, and the characters that some readers take for a
// line end (U+0085, U+2028, U+2029) as \u escapes.
//
// The fields are kept as the JSON members they become, in one piece of text: a record costs the
// thread that answers a query no allocation per field, and its line is one copy of that text.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CAuditRecord {
public:
    using Clock = std::chrono::system_clock;

    CAuditRecord(std::string_view event, std::string_view source);

    CAuditRecord& Add(std::string_view key, std::string_view value);
    CAuditRecord& AddNumber(std::string_view key, uint64_t value);
    CAuditRecord& AddBool(std::string_view key, bool value);

    const std::string& Event() const { return m_strEvent; }
    const std::string& Source() const { return m_strSource; }
    // The fields as key and value, in the order added: text as it reads back from the line
    // (malformed UTF-8 as U+FFFD), a number or truth value as its JSON token.
    std::vector<std::pair<std::string, std::string>> Fields() const;

    // {"time":"...","event":"...","source":"...",...}\n
    std::string JsonLine(Clock::time_point when) const;
    // The same line appended to out, whose room a caller may keep from record to record.
    void AppendJsonLine(std::string& out, Clock::time_point when) const;

    // UTC, ISO 8601 with milliseconds: 2026-12-09T21:58:53.123Z.
    static std::string TimeText(Clock::time_point when);
    static void AppendTimeText(std::string& out, Clock::time_point when);
    // Appends text as a JSON string with its quotes.
    static void AppendJsonString(std::string& out, std::string_view text);
    // The members of one JSON object on one line, values as text (strings unescaped, other
    // values as their tokens); nothing when the line is not such an object. Nested objects and
    // arrays are not part of the trail's records and are refused.
    static std::optional<std::vector<std::pair<std::string, std::string>>>
    ParseJsonLine(std::string_view line);

private:
    void AppendMemberKey(std::string_view key);

    std::string m_strEvent;
    std::string m_strSource;
    // ,"key":value for each field, escaped as in the line.
    std::string m_strMembers;
};
