#include "console/ConsoleLists.h"

#include "platform/ui/CSortedListModel.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <system_error>

namespace {

// Longer files were not written by us.
constexpr std::uintmax_t kMaxViewFileSize = 1024;
constexpr std::string_view kAscending = "ascending";
constexpr std::string_view kDescending = "descending";

bool IsColumn(int col, int nColumns) {
    return col >= 0 && col < nColumns;
}

} // namespace

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

void MakeSortable(CListCtrl& list, std::span<const int> addressColumns, int firstSort) {
    list.SetSortable(addressColumns);
    list.sortByColumn(firstSort, Qt::AscendingOrder);
    // After the view's own handler, which sorts.
    QObject::connect(list.horizontalHeader(), &QHeaderView::sortIndicatorChanged, &list,
                     [&list] { ShowSelectedRow(list); });
}

void ShowSelectedRow(CListCtrl& list) {
    const QItemSelectionModel& selection = *list.selectionModel();
    QModelIndex shown = list.currentIndex();
    if (!shown.isValid() || !selection.isSelected(shown)) {
        int top = -1;
        for (const QItemSelectionRange& range : selection.selection()) {
            top = top < 0 ? range.top() : std::min(top, range.top());
        }
        shown = top < 0 ? QModelIndex() : list.model()->index(top, 0);
    }
    if (shown.isValid()) {
        list.scrollTo(shown);
    }
}

void WireFilter(QLineEdit& field, QLabel& label, CListCtrl& list, int nHint) {
    field.setPlaceholderText(QString::fromStdU16String(std::u16string(LoadString(nHint))));
    field.setClearButtonEnabled(true);
    QObject::connect(&field, &QLineEdit::textChanged, &list,
                     [&list](const QString& text) { list.SetFilterText(text); });
    label.setBuddy(&field);
}

std::optional<CListView> LoadListView(const std::filesystem::path& file, int nColumns) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec || size > kMaxViewFileSize) {
        return std::nullopt;
    }
    std::ifstream in(file);
    CListView view;
    bool bSort = false;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "sort") {
            std::string order;
            if (!(words >> view.nSortColumn >> order) || !IsColumn(view.nSortColumn, nColumns) ||
                (order != kAscending && order != kDescending)) {
                return std::nullopt;
            }
            view.order = order == kAscending ? Qt::AscendingOrder : Qt::DescendingOrder;
            bSort = true;
        } else if (key == "shown") {
            for (int col = 0; words >> col;) {
                if (!IsColumn(col, nColumns)) {
                    return std::nullopt;
                }
                view.shown.push_back(col);
            }
            if (!words.eof()) {
                return std::nullopt;
            }
        } else if (!key.empty()) {
            return std::nullopt;
        }
    }
    if (!bSort) {
        return std::nullopt;
    }
    return view;
}

bool SaveListView(const std::filesystem::path& file, const CListView& view) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    // Written aside and renamed, so that a crash midway leaves the old file whole.
    std::filesystem::path temporary = file;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "sort " << view.nSortColumn << ' '
            << (view.order == Qt::AscendingOrder ? kAscending : kDescending) << "\nshown";
        for (const int col : view.shown) {
            out << ' ' << col;
        }
        out << '\n';
        if (!out.flush()) {
            return false;
        }
    }
    std::filesystem::rename(temporary, file, ec);
    return !ec;
}
