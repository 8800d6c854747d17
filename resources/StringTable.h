// The console's fixed texts by number.
#pragma once

#include <string_view>

// The text of the string, or the empty text for a number the table does not hold.
std::u16string_view LoadString(int id);
