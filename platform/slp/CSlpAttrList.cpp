#include "platform/slp/CSlpAttrList.h"

#include "platform/text/TextUtil.h"

#include <algorithm>
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

CSlpAttrList::Part CSlpAttrList::ReadPart(std::string_view list, std::size_t start) {
    Part part;
    SlpAttribute attr;
    bool sound = true;
    std::size_t end = 0; // the comma that ends the part, or the list's size
    if (list[start] == '(') {
        std::size_t close = list.find(')', start + 1);
        if (close == std::string_view::npos) {
            part.next = list.size(); // unclosed: the rest of the list is inside it
            return part;
        }
        std::string_view inside = list.substr(start + 1, close - start - 1);
        std::size_t equals = inside.find('=');
        attr.tag = std::string(inside.substr(0, equals));
        if (equals != std::string_view::npos) {
            attr.value = std::string(inside.substr(equals + 1));
        }
        // A second "(" means the parentheses are unbalanced; the part is lost, and reading
        // picks up after the next comma past its ")".
        sound = inside.find('(') == std::string_view::npos;
        end = close + 1;
        if (end < list.size() && list[end] != ',') {
            sound = false;
            end = std::min(list.find(',', end), list.size());
        }
    } else {
        end = std::min(list.find(',', start), list.size());
        std::string_view keyword = list.substr(start, end - start);
        sound = keyword.find_first_of("()=") == std::string_view::npos;
        attr.tag = std::string(keyword);
    }
    if (sound && !FoldTag(attr.tag).empty()) {
        part.attr = std::move(attr);
    }
    part.next = end < list.size() ? end + 1 : list.size();
    return part;
}

std::optional<std::vector<SlpAttribute>> CSlpAttrList::Parse(std::string_view list) {
    // Attributes are separated by exactly one comma, and a list does not end with one.
    if (!list.empty() && list.back() == ',') {
        return std::nullopt;
    }
    std::vector<SlpAttribute> attrs;
    for (std::size_t i = 0; i < list.size();) {
        Part part = ReadPart(list, i);
        if (!part.attr) {
            return std::nullopt;
        }
        attrs.push_back(std::move(*part.attr));
        i = part.next;
    }
    return attrs;
}

std::optional<std::string> CSlpAttrList::Find(std::string_view list, std::string_view tag) {
    for (std::size_t i = 0; i < list.size();) {
        Part part = ReadPart(list, i);
        i = part.next;
        if (!part.attr || !TagsEqual(part.attr->tag, tag)) {
            continue;
        }
        if (!part.attr->value) {
            return std::string();
        }
        if (std::optional<std::string> value = Unescape(*part.attr->value)) {
            return value;
        }
    }
    return std::nullopt;
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
