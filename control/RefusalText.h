// The operator's words for the directory's refusals (CDirectoryRules), as the account dialogs
// show them and orvanectl prints them.
#pragma once

#include "core/CDirectoryRules.h"

#include <string>
#include <string_view>

class COrvaneSrvCore;

// Why dn is no directory group's DN; empty for EDnFault::None. Control characters in the DN
// are shown as "\xNN".
std::u16string DnFaultText(EDnFault fault, std::u16string_view dn);

// The message for a refusal; empty for none.
std::u16string RefusalText(const CRefusal& refusal);

// Why the last change sent to core was not made: the rule it broke, or why it was not saved.
std::u16string UnmadeChangeText(const COrvaneSrvCore& core);
