#include "console/ConsoleLists.h"

#include "platform/ui/CSortedListModel.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

#include <algorithm>

void InsertColumns(CListCtrl& list, const CDialogUnits& units,
                   std::span<const CColumnLayout> columns) {
    for (const CColumnLayout& column : columns) {
        list.InsertColumn(QString::fromStdU16String(std::u16string(LoadString(column.nHeading))),
                          column.align, units.DesignPixels(column.nWidth));
    }
}

std::u16string AuthText(bool bAuthorized) {
    return std::u16string(LoadString(bAuthorized ? IDS_YES : IDS_NO));
}

std::u16string NoneText() {
    return std::u16string(LoadString(IDS_NONE));
}

void SortAsListed(std::vector<std::u16string>& names) {
    std::sort(names.begin(), names.end(), [](const std::u16string& a, const std::u16string& b) {
        return CSortedListModel::Before(a, b);
    });
}
