// MAC addresses as people type them and arrays announce them: one key that ignores letter case
// and the separators, so that "00:1A:2B..." typed matches "00-1a-2b..." announced everywhere an
// address is looked up (a login, a group's access list, the audit trail's --mac).
#pragma once

#include <string>
#include <string_view>

// The text lower-cased with ':', '-' and '.' left out; texts that are not addresses keep their
// other characters, so that two different names never share a key.
std::string MacKey(std::string_view text);
// Six pairs of hex digits, joined by ':' or by '-' (one of the two throughout).
bool IsMacAddress(std::string_view text);
