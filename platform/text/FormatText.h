// Filling the numbered markers of a fixed text ("%1 users in %2"), as the string table writes
// them, without Qt: the front ends and the control channel format the same texts alike.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// pattern with each %1 ... %9 replaced by the argument of that number; a marker without an
// argument, and a '%' before anything else, stay as they are. Arguments are not searched again.
std::u16string FormatText(std::u16string_view pattern,
                          std::initializer_list<std::u16string_view> args);
