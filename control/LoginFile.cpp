// The login file's lines and the parsed list's encoding; see LoginFile.h.
#include "control/LoginFile.h"

#include "platform/text/MacText.h"
#include "platform/text/TextConv.h"
#include "platform/text/TextEscape.h"
#include "platform/text/TextUtil.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <map>

namespace LoginFile {

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr char kQuote = '"';
constexpr char kSeparator = ',';
constexpr std::size_t kFieldsWithCredentials = 3;
constexpr std::array<std::string_view, kFieldsWithCredentials> kFieldNames = {
    "the MAC address", "the user name", "the password"};

// One line's fields, or why it has none.
struct CFields {
    std::vector<std::string> fields;
    std::string error;
};

// A quoted field from just past its opening quote; pos ends past the closing one.
bool ReadQuoted(std::string_view line, std::size_t& pos, std::string& field) {
    while (pos < line.size()) {
        const char c = line[pos++];
        if (c != kQuote) {
            field += c;
        } else if (pos < line.size() && line[pos] == kQuote) {
            field += kQuote;
            ++pos;
        } else {
            return true;
        }
    }
    return false;
}

CFields SplitFields(std::string_view line) {
    CFields out;
    std::size_t pos = 0;
    for (;;) {
        pos = std::min(line.find_first_not_of(kBlanks, pos), line.size());
        std::string field;
        if (pos < line.size() && line[pos] == kQuote) {
            ++pos;
            if (!ReadQuoted(line, pos, field)) {
                out.error = "a quoted field does not end on its line (a field may not span lines)";
                return out;
            }
            pos = std::min(line.find_first_not_of(kBlanks, pos), line.size());
            if (pos < line.size() && line[pos] != kSeparator) {
                out.error = "text after a quoted field's closing quote";
                return out;
            }
        } else {
            const std::size_t end = std::min(line.find(kSeparator, pos), line.size());
            field = Trim(line.substr(pos, end - pos));
            if (field.find(kQuote) != std::string::npos) {
                out.error = "a quote inside an unquoted field (quote the whole field, and "
                            "write a quote in it twice)";
                return out;
            }
            pos = end;
        }
        out.fields.push_back(std::move(field));
        if (pos >= line.size()) {
            return out;
        }
        ++pos; // the separator
    }
}

// Why the fields of a line cannot be sent, or nothing.
std::string FieldsError(const std::vector<std::string>& fields) {
    if (fields.size() != 1 && fields.size() != kFieldsWithCredentials) {
        return "expected MAC,user,password or a MAC alone, found " + std::to_string(fields.size()) +
               " fields";
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        // Text that is not UTF-8 does not come back whole from UTF-16.
        if (Utf16ToUtf8(Utf8ToUtf16(fields[i])) != fields[i]) {
            return std::string(kFieldNames[i]) + " is not valid UTF-8";
        }
        if (std::ranges::any_of(
                fields[i], [](char c) { return IsControlCode(static_cast<unsigned char>(c)); })) {
            return std::string(kFieldNames[i]) + " holds a control character";
        }
    }
    if (fields[0].empty()) {
        return "no MAC address";
    }
    if (fields.size() == kFieldsWithCredentials && fields[1].empty()) {
        return "no user name";
    }
    return {};
}

// Every line of a MAC listed more than once is left out: which of its passwords is the right
// one is not for us to guess.
void DropRepeatedMacs(std::vector<CLoginFileEntry>& entries, std::vector<std::size_t>& lines,
                      std::vector<CLoginFileError>& errors) {
    std::map<std::string, std::pair<std::size_t, std::size_t>> seen; // first line, lines
    for (std::size_t i = 0; i < entries.size(); ++i) {
        ++seen.try_emplace(MacKey(entries[i].mac), lines[i], 0).first->second.second;
    }
    std::vector<CLoginFileEntry> kept;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto [firstLine, count] = seen[MacKey(entries[i].mac)];
        if (count == 1) {
            kept.push_back(std::move(entries[i]));
        } else if (lines[i] != firstLine) {
            errors.push_back(
                {lines[i], EscapeForTerminal(entries[i].mac) + " is listed twice (first on line " +
                               std::to_string(firstLine) + "): none of its lines is used"});
        }
    }
    entries = std::move(kept);
}

// Encoded fields: the length in decimal, ':', the bytes.
void AppendField(std::string& out, std::string_view field) {
    out += std::to_string(field.size());
    out += ':';
    out += field;
}

std::optional<std::string> ReadField(std::string_view& bytes) {
    constexpr std::size_t kMaxDigits = 10;
    const std::size_t colon = bytes.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > kMaxDigits) {
        return std::nullopt;
    }
    std::size_t length = 0;
    const auto [ptr, ec] = std::from_chars(bytes.data(), bytes.data() + colon, length);
    if (ec != std::errc() || ptr != bytes.data() + colon || length > bytes.size() - colon - 1) {
        return std::nullopt;
    }
    std::string field(bytes.substr(colon + 1, length));
    bytes.remove_prefix(colon + 1 + length);
    return field;
}

} // namespace

CLoginFileContent Parse(std::string_view text) {
    CLoginFileContent out;
    std::vector<std::size_t> lines; // each entry's
    std::size_t number = 0;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        ++number;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        const std::string_view content = Trim(line);
        if (content.empty() || content.front() == '#') {
            continue;
        }
        if (line.size() > kMaxLineBytes) {
            out.errors.push_back(
                {number, "longer than " + std::to_string(kMaxLineBytes) + " bytes"});
            continue;
        }
        CFields split = SplitFields(line);
        const std::string error =
            split.error.empty() ? FieldsError(split.fields) : std::move(split.error);
        if (!error.empty()) {
            out.errors.push_back({number, error});
            continue;
        }
        split.fields.resize(kFieldsWithCredentials);
        out.entries.push_back(
            {std::move(split.fields[0]), std::move(split.fields[1]), std::move(split.fields[2])});
        lines.push_back(number);
    }
    DropRepeatedMacs(out.entries, lines, out.errors);
    std::ranges::stable_sort(out.errors, {}, &CLoginFileError::nLine);
    return out;
}

std::string Encode(const std::vector<CLoginFileEntry>& entries) {
    std::string out;
    for (const CLoginFileEntry& entry : entries) {
        AppendField(out, entry.mac);
        AppendField(out, entry.user);
        AppendField(out, entry.password);
    }
    return out;
}

std::optional<std::vector<CLoginFileEntry>> Decode(std::string_view bytes) {
    std::vector<CLoginFileEntry> entries;
    while (!bytes.empty()) {
        auto mac = ReadField(bytes);
        auto user = mac ? ReadField(bytes) : std::nullopt;
        auto password = user ? ReadField(bytes) : std::nullopt;
        if (!password || mac->empty() || (user->empty() && !password->empty())) {
            return std::nullopt;
        }
        entries.push_back({std::move(*mac), std::move(*user), std::move(*password)});
    }
    return entries;
}

} // namespace LoginFile
