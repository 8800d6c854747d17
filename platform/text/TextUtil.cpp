#include "platform/text/TextUtil.h"

#include <algorithm>

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = AsciiLower(c);
    }
    return out;
}

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kWhiteSpace);
    return text.substr(first, last - first + 1);
}

std::vector<std::string_view> SplitList(std::string_view text, char separator) {
    std::vector<std::string_view> items;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        if (const std::string_view item = Trim(text.substr(start, end - start)); !item.empty()) {
            items.push_back(item);
        }
        start = end + 1;
    }
    return items;
}

std::string FoldWhiteSpaceLower(std::string_view text) {
    std::string folded;
    bool pendingBlank = false;
    for (const char c : text) {
        if (kWhiteSpace.find(c) != std::string_view::npos) {
            pendingBlank = !folded.empty();
            continue;
        }
        if (pendingBlank) {
            folded += ' ';
            pendingBlank = false;
        }
        folded += AsciiLower(c);
    }
    return folded;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}
