#include "platform/ui/FileDialogFilter.h"

namespace {

constexpr char16_t kBar = u'|';
constexpr char16_t kSemicolon = u';';
constexpr std::u16string_view kAllFilesPattern = u"*.*";
constexpr std::u16string_view kEveryFile = u"*";

std::u16string_view TrimBlanks(std::u16string_view text) {
    while (!text.empty() && text.front() == u' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == u' ') {
        text.remove_suffix(1);
    }
    return text;
}

// Splits at semicolons, trimming blanks and dropping empty items.
std::vector<std::u16string> SplitPatterns(std::u16string_view text) {
    std::vector<std::u16string> items;
    while (!text.empty()) {
        const std::size_t end = text.find(kSemicolon);
        if (const std::u16string_view item = TrimBlanks(text.substr(0, end)); !item.empty()) {
            items.emplace_back(item);
        }
        text.remove_prefix(end == std::u16string_view::npos ? text.size() : end + 1);
    }
    return items;
}

// Cuts the next field off list at the next bar; false when no bar is left.
bool NextField(std::u16string_view& list, std::u16string_view& field) {
    const std::size_t bar = list.find(kBar);
    if (bar == std::u16string_view::npos) {
        return false;
    }
    field = list.substr(0, bar);
    list.remove_prefix(bar + 1);
    return true;
}

} // namespace

std::vector<CFileFilter> ParseFilterList(std::u16string_view list) {
    std::vector<CFileFilter> filters;
    std::u16string_view description;
    std::u16string_view patterns;
    while (NextField(list, description) && !description.empty()) {
        // The last pair may lack its closing bar.
        if (!NextField(list, patterns)) {
            patterns = list;
            list = {};
        }
        CFileFilter filter{std::u16string(description), SplitPatterns(patterns)};
        if (filter.patterns.empty()) {
            break;
        }
        filters.push_back(std::move(filter));
    }
    return filters;
}

std::u16string QtNameFilter(const CFileFilter& filter) {
    std::u16string patterns;
    for (const std::u16string& p : filter.patterns) {
        if (!patterns.empty()) {
            patterns += u' ';
        }
        patterns += p == kAllFilesPattern ? std::u16string(kEveryFile) : p;
    }
    std::u16string_view description = TrimBlanks(filter.description);
    if (!description.empty() && description.back() == u')') {
        const std::size_t open = description.rfind(u'(');
        if (open != std::u16string_view::npos) {
            description = TrimBlanks(description.substr(0, open));
        }
    }
    std::u16string text(description);
    if (!text.empty()) {
        text += u' ';
    }
    return text + u"(" + patterns + u")";
}

std::u16string DefaultSuffix(std::u16string_view defaultExt) {
    defaultExt = TrimBlanks(defaultExt);
    if (defaultExt.starts_with(u'*')) {
        defaultExt.remove_prefix(1);
    }
    if (defaultExt.starts_with(u'.')) {
        defaultExt.remove_prefix(1);
    }
    return std::u16string(defaultExt);
}

std::u16string CompleteFileName(std::u16string_view path, std::u16string_view suffix) {
    const std::size_t slash = path.rfind(u'/');
    const std::u16string_view name =
        slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    std::u16string completed(path);
    if (!name.empty() && !suffix.empty() && name.find(u'.') == std::u16string_view::npos) {
        completed += u'.';
        completed += suffix;
    }
    return completed;
}
