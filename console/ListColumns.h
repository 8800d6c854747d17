// The columns of the console's report lists as data: heading text, alignment and width in pixels
// of the design font, inserted in one go; and the few cell texts the lists share.
#pragma once

#include "platform/ui/CDialogUnits.h"
#include "platform/ui/CListCtrl.h"

#include <span>
#include <string>

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
