#include "platform/slp/CSlpAttrList.h"

#include "platform/text/TextUtil.h"

#include <cctype>

namespace {

bool IsReserved(unsigned char c) {
    switch (c) {
    case '(':
    case ')':
    case ',':
    case '\\':
    case '!':
    case '<':
    case '=':
    case '>':
    case '~':
        return true;
    default:
        return c < 0x20 || c == 0x7F;
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

std::string CSlpAttrList::Escape(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (char ch : value) {
        auto c = static_cast<unsigned char>(ch);
        if (IsReserved(c)) {
            out += '\\';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

std::optional<std::string> CSlpAttrList::Unescape(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            out += raw[i];
            continue;
        }
        if (i + 2 >= raw.size()) {
            return std::nullopt;
        }
        int high = HexValue(raw[i + 1]);
        int low = HexValue(raw[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high << 4 | low);
        i += 2;
    }
    return out;
}

std::optional<std::vector<SlpAttribute>> CSlpAttrList::Parse(std::string_view list) {
    std::vector<SlpAttribute> attrs;
    std::size_t i = 0;
    while (i < list.size()) {
        SlpAttribute attr;
        if (list[i] == '(') {
            std::size_t close = list.find(')', i + 1);
            if (close == std::string_view::npos) {
                return std::nullopt;
            }
            std::string_view inside = list.substr(i + 1, close - i - 1);
            std::size_t equals = inside.find('=');
            if (equals == std::string_view::npos) {
                attr.tag = std::string(inside);
            } else {
                attr.tag = std::string(inside.substr(0, equals));
                attr.value = std::string(inside.substr(equals + 1));
            }
            if (attr.tag.find('(') != std::string::npos) {
                return std::nullopt;
            }
            i = close + 1;
        } else {
            std::size_t comma = list.find(',', i);
            std::string_view keyword = list.substr(
                i, comma == std::string_view::npos ? std::string_view::npos : comma - i);
            if (keyword.find_first_of("()=") != std::string_view::npos) {
                return std::nullopt;
            }
            attr.tag = std::string(keyword);
            i += keyword.size();
        }
        if (FoldTag(attr.tag).empty()) {
            return std::nullopt;
        }
        attrs.push_back(std::move(attr));
        if (i == list.size()) {
            break;
        }
        // Attributes are separated by exactly one comma, and a list does not end with one.
        if (list[i] != ',' || i + 1 == list.size()) {
            return std::nullopt;
        }
        ++i;
    }
    return attrs;
}

std::optional<std::string> CSlpAttrList::Find(std::string_view list, std::string_view tag) {
    std::optional<std::vector<SlpAttribute>> attrs = Parse(list);
    if (!attrs) {
        return std::nullopt;
    }
    for (const SlpAttribute& attr : *attrs) {
        if (!TagsEqual(attr.tag, tag)) {
            continue;
        }
        if (!attr.value) {
            return std::string();
        }
        return Unescape(*attr.value);
    }
    return std::nullopt;
}

std::string CSlpAttrList::Build(const std::vector<std::pair<std::string, std::string>>& attrs) {
    std::string list;
    for (const auto& [tag, value] : attrs) {
        if (!list.empty()) {
            list += ',';
        }
        if (value.empty()) {
            list += Escape(tag);
        } else {
            list += '(' + Escape(tag) + '=' + Escape(value) + ')';
        }
    }
    return list;
}

std::string CSlpAttrList::FoldTag(std::string_view tag) {
    return FoldWhiteSpaceLower(Unescape(tag).value_or(std::string(tag)));
}

bool CSlpAttrList::TagsEqual(std::string_view a, std::string_view b) {
    return FoldTag(a) == FoldTag(b);
}

bool CSlpAttrList::TagSelected(std::string_view tagList, std::string_view tag) {
    if (tagList.empty()) {
        return true;
    }
    std::string folded = FoldTag(tag);
    std::size_t start = 0;
    while (start <= tagList.size()) {
        std::size_t comma = tagList.find(',', start);
        std::size_t end = comma == std::string_view::npos ? tagList.size() : comma;
        if (WildcardMatch(FoldTag(tagList.substr(start, end - start)), folded)) {
            return true;
        }
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    return false;
}

bool CSlpAttrList::WildcardMatch(std::string_view pattern, std::string_view text) {
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t star = std::string_view::npos;
    std::size_t mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}
