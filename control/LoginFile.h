// The file of "orvanectl login --from FILE": one array a line, "MAC,user,password" for an array
// with an administrator password of its own, or a MAC alone for one that takes the command's
// --user and password. Fields are quoted as in comma-separated files (a field in double quotes
// may hold commas, and a quote written twice), but a quoted field ends on its own line: a
// password never swallows the lines after it. Lines starting with '#' and blank lines are skipped;
// unquoted fields lose their surrounding spaces.
//
// orvanectl parses the file (it may be standard input, which the running copy cannot read) and
// hands the parsed list over as one argument of its request: a command line or a log never sees
// a password, and 10,000 arrays need not fit the request's argument count. No message here ever
// holds a password.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct CLoginFileEntry {
    std::string mac;
    // Empty for a line with a MAC alone: the command's credentials are used.
    std::string user;
    std::string password;

    bool HasOwnCredentials() const { return !user.empty(); }
    bool operator==(const CLoginFileEntry&) const = default;
};

// A line that was left out, and why, in words that never quote a password.
struct CLoginFileError {
    std::size_t nLine = 0; // from 1
    std::string reason;
    bool operator==(const CLoginFileError&) const = default;
};

struct CLoginFileContent {
    std::vector<CLoginFileEntry> entries; // in the file's order
    std::vector<CLoginFileError> errors;  // by line
};

namespace LoginFile {

// A line longer than this is an error: a MAC, a user name and a password fit many times over,
// and 10,000 lines this long still fit one control request.
inline constexpr std::size_t kMaxLineBytes = 512;

CLoginFileContent Parse(std::string_view text);

// The entries as one argument of a request, and back. Decode answers nothing for bytes that are
// not such a list (or a list with an entry that a parse never yields).
std::string Encode(const std::vector<CLoginFileEntry>& entries);
std::optional<std::vector<CLoginFileEntry>> Decode(std::string_view bytes);

} // namespace LoginFile
