// The aligned tables of orvanectl's replies for people: columns separated by two spaces, each as
// wide as its widest cell in characters, so that names in any script line up on a terminal; and
// the same rows as comma-separated values for spreadsheets (RFC 4180).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

using CTextRow = std::vector<std::string>;

// One line per row; the last cell of a row unpadded. The first row is the header, when there is
// one.
std::string TextTable(const std::vector<CTextRow>& rows);

// What text(item) makes of each item (the item itself by default), with separator between each
// two.
template <typename Items, typename Text = std::identity>
std::string Joined(const Items& items, std::string_view separator, Text text = {}) {
    std::string out;
    bool bFirst = true;
    for (const auto& item : items) {
        out.append(bFirst ? std::string_view() : separator).append(text(item));
        bFirst = false;
    }
    return out;
}

// One CRLF-ended line per row; a cell holding a comma, a double quote or a line end is quoted,
// with its quotes doubled, and one that a spreadsheet would take for a formula ('=', '+', '-',
// '@', a tab or a carriage return first) starts with an apostrophe.
std::string CsvTable(const std::vector<CTextRow>& rows);
