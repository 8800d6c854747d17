// Reading and filtering the audit trail; see CAuditQuery.h.
#include "core/audit/CAuditQuery.h"

#include "platform/text/MacText.h"
#include "platform/text/TextEscape.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <unordered_map>

namespace {

const std::string* Find(const CAuditQuery::CMembers& record, std::string_view key) {
    const auto it = std::ranges::find(record, key, &CAuditQuery::CMembers::value_type::first);
    return it == record.end() ? nullptr : &it->second;
}

bool ListHasMac(const std::string& list, const std::string& wanted) {
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        if (MacKey(std::string_view(list).substr(start, end - start)) == wanted) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

constexpr std::array<std::string_view, 5> kColumns = {"time", "event", "source", "address", "user"};

} // namespace

std::optional<std::string> CAuditQuery::SinceText(std::string_view value,
                                                  CAuditRecord::Clock::time_point now) {
    if (value.size() >= 2 && std::all_of(value.begin(), value.end() - 1, [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) != 0;
        })) {
        constexpr std::string_view kUnits = "smhd";
        constexpr std::array<long long, 4> kSeconds = {1, 60, 3600, 86400};
        const std::size_t unit = kUnits.find(value.back());
        if (unit != std::string_view::npos) {
            const long long n = std::stoll(std::string(value.substr(0, value.size() - 1)));
            return CAuditRecord::TimeText(now - std::chrono::seconds(n * kSeconds[unit]));
        }
    }
    // A date, a date and time with a "T" or a blank between them, as far as it goes.
    constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:dd";
    if (value.size() < 4 || value.size() > kShape.size()) {
        return std::nullopt;
    }
    std::string text(value);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == 10 && text[i] == ' ') {
            text[i] = 'T';
        }
        const bool bDigit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
        if (kShape[i] == 'd' ? !bDigit : text[i] != kShape[i]) {
            return std::nullopt;
        }
    }
    return text;
}

bool CAuditQuery::Matches(const CMembers& record) const {
    // What was not asked for passes; what was, fails a record without the field.
    const auto fails = [&record](std::string_view key, const std::string& wanted, bool bAtLeast) {
        if (wanted.empty()) {
            return false;
        }
        const std::string* value = Find(record, key);
        return value == nullptr || (bAtLeast ? *value < wanted : *value != wanted);
    };
    if (fails("time", since, true) || fails("event", event, false) || fails("user", user, false)) {
        return false;
    }
    if (!mac.empty()) {
        const std::string wanted = MacKey(mac);
        const std::string* one = Find(record, "mac");
        const std::string* list = Find(record, "macs");
        if (!(one != nullptr && MacKey(*one) == wanted) &&
            !(list != nullptr && ListHasMac(*list, wanted))) {
            return false;
        }
    }
    return true;
}

std::vector<std::filesystem::path> CAuditQuery::Files(const std::filesystem::path& current) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (int n = 1;; ++n) {
        const std::filesystem::path old = current.string() + "." + std::to_string(n);
        if (!std::filesystem::exists(old, ec)) {
            break;
        }
        files.insert(files.begin(), old);
    }
    if (std::filesystem::exists(current, ec)) {
        files.push_back(current);
    }
    return files;
}

std::vector<std::string> CAuditQuery::Read(const std::filesystem::path& current) const {
    std::vector<std::string> lines;
    // The last lists handed out to each address and user: a count of repeats names none.
    CHandOutLists lists;
    for (const std::filesystem::path& file : Files(current)) {
        std::ifstream in(file, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            auto record = CAuditRecord::ParseJsonLine(line);
            if (!record) {
                continue;
            }
            ResolveHandOut(*record, lists);
            if (Matches(*record)) {
                lines.push_back(line);
            }
        }
    }
    return lines;
}

void CAuditQuery::ResolveHandOut(CMembers& record, CHandOutLists& lists) {
    const std::string* event = Find(record, "event");
    if (event == nullptr || *event != "query") {
        return;
    }
    const std::string* address = Find(record, "address");
    const std::string* user = Find(record, "user");
    std::string key = (address ? *address : std::string()) + '\0' + (user ? *user : std::string());
    const std::string* macs = Find(record, "macs");
    const std::string* ips = Find(record, "ips");
    if (macs != nullptr) {
        lists[std::move(key)] = {*macs, ips != nullptr ? *ips : std::string()};
    } else if (const auto it = lists.find(key); it != lists.end()) {
        record.emplace_back("macs", it->second.first);
        record.emplace_back("ips", it->second.second);
    }
}

std::string CAuditQuery::Table(const std::vector<std::string>& lines) {
    std::vector<std::array<std::string, kColumns.size() + 1>> rows;
    rows.push_back({"TIME", "EVENT", "SOURCE", "ADDRESS", "USER", "DETAILS"});
    for (const std::string& line : lines) {
        const auto record = CAuditRecord::ParseJsonLine(line);
        if (!record) {
            continue;
        }
        std::array<std::string, kColumns.size() + 1> row;
        for (std::size_t i = 0; i < kColumns.size(); ++i) {
            const std::string* value = Find(*record, kColumns[i]);
            // A name a client sent may hold control bytes: they must not reach the terminal.
            row[i] = value != nullptr ? EscapeForTerminal(*value) : "-";
        }
        for (const auto& [key, value] : *record) {
            if (std::find(kColumns.begin(), kColumns.end(), key) == kColumns.end()) {
                row.back() += (row.back().empty() ? "" : " ") + EscapeForTerminal(key) + "=" +
                              EscapeForTerminal(value);
            }
        }
        rows.push_back(std::move(row));
    }
    std::array<std::size_t, kColumns.size()> widths{};
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < widths.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::string out;
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < widths.size(); ++i) {
            out += row[i] + std::string(widths[i] - row[i].size() + 2, ' ');
        }
        out += row.back();
        while (!out.empty() && out.back() == ' ') {
            out.pop_back();
        }
        out += '\n';
    }
    return out;
}
