// Finds the file that a GET names, relative to the served folder, with "default.htm" standing
// for a folder. Only regular files inside the served folder are ever opened: a name with a ".."
// segment or any component that begins with a dot (".ssh", ".config"), an absolute name, a NUL
// byte, or a real path (symbolic links resolved) outside the folder finds nothing. Neither does
// an exported configuration file: a name ending in ".ovx" in any letter case, as requested or
// as finally opened, or a file of any name that begins as a configuration file does.
#pragma once

#include "platform/io/CUniqueFd.h"

#include <string>
#include <string_view>

// The path as it stands in the request line; one leading slash is dropped. No percent-decoding.
// docRoot is the folder's absolute real path; an empty or relative one finds nothing. rootFd,
// when not -1, is the folder opened with O_PATH, which lets the kernel check that the name stays
// inside it.
CUniqueFd OpenRequestedFile(std::string_view path, const std::string& docRoot, int rootFd = -1);

// Whether a name (leading slash already dropped) may be looked up at all.
bool IsServableName(std::string_view name);
