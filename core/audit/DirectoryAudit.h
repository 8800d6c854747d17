// The audit record of a directory change: which user or group, what it now holds (groups,
// members, directory groups, access list) and, for a user, whether the password was changed;
// never the password.
#pragma once

#include "core/CDirectoryMessage.h"
#include "core/CDirectoryUndo.h"
#include "core/audit/CAuditRecord.h"

#include <optional>
#include <string>
#include <string_view>

// The record for msg, composed before it is delivered (the caller holds the guard over users);
// nothing for the loading of stored records, which changes nothing.
std::optional<CAuditRecord> DirectoryChangeRecord(const CDirectoryMessage& msg,
                                                  const CUserTable& users, std::string_view source);
