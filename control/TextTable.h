// The aligned tables of orvanectl's replies for people: columns separated by two spaces, each as
// wide as its widest cell in characters, so that names in any script line up on a terminal.
#pragma once

#include <string>
#include <vector>

using CTextRow = std::vector<std::string>;

// One line per row; the last cell of a row unpadded. The first row is the header, when there is
// one.
std::string TextTable(const std::vector<CTextRow>& rows);
