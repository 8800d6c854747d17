// The program's state folder; see StateFolder.h.
#include "platform/io/StateFolder.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace {

constexpr mode_t kPrivateFolderMode = 0700;

} // namespace

std::filesystem::path ProgramStateFolder() {
    std::filesystem::path base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
        base = state;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        base = std::filesystem::path(home) / ".local" / "state";
    } else {
        return {};
    }
    return base / "OrvaneSrv";
}

void MakePrivateFolderFor(const std::filesystem::path& file) {
    const std::filesystem::path folder = file.parent_path();
    std::error_code ec;
    std::filesystem::create_directories(folder.parent_path(), ec);
    struct stat folderStat {};
    if (::mkdir(folder.c_str(), kPrivateFolderMode) != 0 && errno == EEXIST &&
        ::stat(folder.c_str(), &folderStat) == 0 && (folderStat.st_mode & S_ISVTX) == 0) {
        ::chmod(folder.c_str(), kPrivateFolderMode);
    }
}
