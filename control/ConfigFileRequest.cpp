// The control channel's export and import checks; see ConfigFileRequest.h.
#include "control/ConfigFileRequest.h"

#include "control/TextTable.h"
#include "core/CConfigFile.h"
#include "core/COrvaneSrvCore.h"
#include "platform/io/CUniqueFd.h"
#include "platform/text/TextConv.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace {

std::string Named(const std::filesystem::path& file, std::string_view why) {
    return file.string() + ": " + std::string(why);
}

std::string Line(const std::string& what, std::vector<std::string> names) {
    std::ranges::sort(names);
    return what + " (" + std::to_string(names.size()) + ")" + (names.empty() ? "" : ": ") +
           Joined(names, ", ") + "\n";
}

// The lines of the names of table, split by whether existing already holds them.
template <typename Table, typename Existing>
std::string Lines(const std::string& what, const Table& table, const Existing& existing) {
    std::vector<std::string> added;
    std::vector<std::string> replaced;
    for (const auto& entry : table) {
        (existing.contains(entry.first) ? replaced : added).push_back(Utf16ToUtf8(entry.first));
    }
    return Line(what + " added", std::move(added)) + Line(what + " replaced", std::move(replaced));
}

} // namespace

std::string ClaimExportFile(const std::filesystem::path& file) {
    const CUniqueFd fd(
        ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) {
        return errno == EEXIST ? Named(file, "exists: give --force to replace it")
                               : Named(file, std::strerror(errno));
    }
    return {};
}

std::optional<std::string> ReadExportFile(const std::filesystem::path& file, CGroupTable& groups,
                                          CUserTable& users) {
    std::ifstream in(file, std::ios::binary);
    struct stat st {};
    if (!in || ::stat(file.c_str(), &st) != 0) {
        return Named(file, std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return Named(file, "not a file");
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    if (in.bad()) {
        return Named(file, "cannot be read");
    }
    const std::size_t headSize = std::min(bytes.size(), CConfigFile::kSignatureBytes);
    if (!CConfigFile::StartsLikeConfigurationFile(std::span(bytes).first(headSize))) {
        return Named(file, "not an export file");
    }
    const EArchiveError error = CConfigFile::Parse(bytes, groups, users);
    if (error == EArchiveError::EndOfFile) {
        return Named(file, "truncated at byte " + std::to_string(bytes.size()));
    }
    if (error != EArchiveError::None) {
        return Utf16ToUtf8(CConfigFile::FormatErrorText(error, file));
    }
    return std::nullopt;
}

CControlReply DryRunImport(const COrvaneSrvCore& core, const std::filesystem::path& file) {
    CGroupTable groups;
    CUserTable users;
    if (const auto why = ReadExportFile(file, groups, users)) {
        return {kFailedStatus, {}, *why + "\n"};
    }
    std::string lines;
    core.Read([&](const CTablesView& tables) {
        lines = Lines("users", users, tables.users) + Lines("groups", groups, tables.groups);
    });
    return {0,
            "dry run, nothing was changed: importing " + file.string() + " would make\n" + lines,
            {}};
}
