// Aligned tables for orvanectl's replies; see TextTable.h.
#include "control/TextTable.h"

#include "platform/text/TextConv.h"

#include <algorithm>
#include <string_view>

std::string TextTable(const std::vector<CTextRow>& rows) {
    constexpr std::size_t kGap = 2;
    std::vector<std::size_t> widths;
    for (const CTextRow& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], Utf8ToUtf16(row[i]).size());
        }
    }
    std::string out;
    for (const CTextRow& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line.append(widths[i] - Utf8ToUtf16(row[i]).size() + kGap, ' ');
            }
        }
        // An empty last cell leaves no padding behind.
        line.erase(line.find_last_not_of(' ') + 1);
        out += line + '\n';
    }
    return out;
}

namespace {

// A spreadsheet runs a cell that starts like a formula; names come from the LAN, so such a cell
// is written as text, behind an apostrophe.
bool LooksLikeFormula(const std::string& cell) {
    return !cell.empty() && std::string_view("=+-@\t\r").find(cell[0]) != std::string_view::npos;
}

std::string CsvCell(const std::string& plain) {
    const std::string cell = LooksLikeFormula(plain) ? "'" + plain : plain;
    if (cell.find_first_of(",\"\r\n") == std::string::npos) {
        return cell;
    }
    std::string out = "\"";
    for (const char c : cell) {
        out += c == '"' ? "\"\"" : std::string(1, c);
    }
    return out + "\"";
}

} // namespace

std::string CsvTable(const std::vector<CTextRow>& rows) {
    std::string out;
    for (const CTextRow& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            out += (i == 0 ? "" : ",") + CsvCell(row[i]);
        }
        out += "\r\n";
    }
    return out;
}
