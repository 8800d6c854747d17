// Where the program keeps what it writes as it runs (its logs and its audit trail): the XDG
// state folder of the user, in a folder of the program's own.
#pragma once

#include <filesystem>

// $XDG_STATE_HOME/OrvaneSrv, or ~/.local/state/OrvaneSrv when that is not an absolute path;
// empty when neither is known.
std::filesystem::path ProgramStateFolder();
