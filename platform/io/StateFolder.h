// Where the program keeps what it writes as it runs (its logs and its audit trail): the XDG
// state folder of the user, in a folder of the program's own, readable by its owner alone.
#pragma once

#include <filesystem>

// $XDG_STATE_HOME/OrvaneSrv, or ~/.local/state/OrvaneSrv when that is not an absolute path;
// empty when neither is known.
std::filesystem::path ProgramStateFolder();

// Creates `file`'s folder (and the folders above it) so that only its owner may enter it, and
// narrows an existing folder to that. A shared folder with the sticky bit (/tmp) is nobody's own
// and is left as it is.
void MakePrivateFolderFor(const std::filesystem::path& file);
