// What the console's lists share: the columns of report lists as data (heading text, alignment
// and width in pixels of the design font) inserted in one go, the few cell texts they have in
// common, the order in which sorted lists are best filled, the sorting and filter that lists of
// arrays have, and the view an operator chose for a list, kept between runs.
#pragma once

#include "platform/ui/CDialogUnits.h"
#include "platform/ui/CListCtrl.h"

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;

struct CColumnLayout {
    int nHeading; // string table number
    EColumnAlign align;
    int nWidth; // pixels of the design font
};

void InsertColumns(CListCtrl& list, const CDialogUnits& units,
                   std::span<const CColumnLayout> columns);

// "Yes" or "No" for a server's authorized flag.
std::u16string AuthText(bool bAuthorized);
// "--", the cell of a value that no record carries.
std::u16string NoneText();

// Puts names in the order of the sorted lists, so that each one added lands at the end: a list of
// 10,000 names then fills without moving its entries once per name.
void SortAsListed(std::vector<std::u16string>& names);

// A click on a heading sorts the list (addressColumns, IPv4 addresses, by number), which starts
// sorted by firstSort, ascending. After every sort the row the operator was on stays in view:
// among hundreds of rows it would otherwise be lost.
void MakeSortable(CListCtrl& list, std::span<const int> addressColumns, int firstSort);
// Scrolls to the focused row when it is selected, else to the first selected row, if any.
void ShowSelectedRow(CListCtrl& list);
// The field narrows the list to the rows holding its text in any column (hidden ones too), in
// any case; the label's Alt letter leads to it, and the hint (a string number) says what it reads.
void WireFilter(QLineEdit& field, QLabel& label, CListCtrl& list, int nHint);

// A list's sort and the columns shown among those the operator may hide.
struct CListView {
    int nSortColumn = 0;
    Qt::SortOrder order = Qt::AscendingOrder;
    std::vector<int> shown;
    bool operator==(const CListView&) const = default;
};
// Kept as a few lines of text ("sort 0 ascending", "shown 6 8"). A file that is missing, too
// long, or names a column the list lacks (nColumns) gives nothing: the list keeps its defaults.
std::optional<CListView> LoadListView(const std::filesystem::path& file, int nColumns);
// Writes aside and renames (the folder is made); false when it cannot be written.
bool SaveListView(const std::filesystem::path& file, const CListView& view);
