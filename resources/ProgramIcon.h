// The program icon (number 128) as SVG text, drawn for any size by the user interface.
#pragma once

#include <string_view>

// The SVG document of the icon with the number, or the empty text.
std::string_view IconSvg(int id);
