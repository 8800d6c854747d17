// Reading the audit trail back: the current file and its rotated predecessors, oldest first,
// the records that match a query, as JSON lines or as an aligned table for people.
#pragma once

#include "core/audit/CAuditRecord.h"

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class CAuditQuery {
public:
    using CMembers = std::vector<std::pair<std::string, std::string>>;

    std::string since; // the earliest time shown, as the records write it (a prefix will do)
    std::string user;
    std::string mac; // any letter case, with or without separators
    std::string event;

    // Reads a --since value: an ISO 8601 date or time (UTC, as far as it is given), or an age
    // such as 30m, 12h, 7d, counted back from now. Nothing when it is neither.
    static std::optional<std::string> SinceText(std::string_view value,
                                                CAuditRecord::Clock::time_point now);

    bool Matches(const CMembers& record) const;

    // The file and the rotated ones beside it that exist, oldest first.
    static std::vector<std::filesystem::path> Files(const std::filesystem::path& current);
    // Every matching line of the files, oldest first; lines that are no record are skipped. A
    // count of repeated "query" hand-outs, which names no arrays, matches by the lists of the
    // last whole "query" record of its address and user before it.
    std::vector<std::string> Read(const std::filesystem::path& current) const;

    // The lines as a table: time, event, source, address, user, then the other fields.
    static std::string Table(const std::vector<std::string>& lines);

private:
    // By address, a NUL and user: the last lists of MACs and IPs handed out.
    using CHandOutLists = std::unordered_map<std::string, std::pair<std::string, std::string>>;
    // Notes the lists of a whole "query" record, or gives a count of repeats the lists it
    // stands for.
    static void ResolveHandOut(CMembers& record, CHandOutLists& lists);
};
