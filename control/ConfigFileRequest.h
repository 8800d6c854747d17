// The control channel's export and import beyond the window's: an export that will not replace
// an existing file without --force (the name is claimed with O_EXCL, so a file made meanwhile is
// not replaced either), an import that names the file and why it cannot be read, and an import
// tried without being made (--dry-run): what it would add and replace, with nothing written and
// nothing audited.
#pragma once

#include "control/ControlProtocol.h"
#include "core/CDirectoryUndo.h"

#include <filesystem>
#include <optional>
#include <string>

class COrvaneSrvCore;

// Claims file for an export: creates it empty, mode 0600, unless it exists. Answers why not,
// empty once claimed (the export then renames its finished file over the claim).
std::string ClaimExportFile(const std::filesystem::path& file);

// Reads an exported file into groups and users; answers why not, naming the file: the system's
// error text, "not an export file", "truncated at byte N", or the archive reader's text.
std::optional<std::string> ReadExportFile(const std::filesystem::path& file, CGroupTable& groups,
                                          CUserTable& users);

// What importing file would add and replace, by name; nothing is changed.
CControlReply DryRunImport(const COrvaneSrvCore& core, const std::filesystem::path& file);
