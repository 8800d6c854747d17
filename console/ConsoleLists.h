// What the console's lists share: the columns of report lists as data (heading text, alignment
// and width in pixels of the design font) inserted in one go, the few cell texts they have in
// common, and the order in which sorted lists are best filled.
#pragma once

#include "platform/ui/CDialogUnits.h"
#include "platform/ui/CListCtrl.h"

#include <span>
#include <string>
#include <vector>

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
