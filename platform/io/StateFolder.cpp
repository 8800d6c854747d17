// The program's state folder; see StateFolder.h.
#include "platform/io/StateFolder.h"

#include <cstdlib>

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
