// Where a file dialog for the operator's own files starts: the user's documents folder (as the
// desktop names it, else ~/Documents), or else the home folder; never a folder that a service
// of the program publishes. Qt at the boundary only.
#pragma once

#include <filesystem>

// The documents folder when it exists outside published, else the home folder when it does;
// failing both, the first of the two that exists and is not published itself; failing that, the
// file system's root. published may be empty (nothing is published).
std::filesystem::path UserFolderOutside(const std::filesystem::path& published);
