#include "tools/array-sim/CSimPredicate.h"

#include "platform/slp/CSlpAttrList.h"
#include "platform/text/TextUtil.h"

#include <cctype>
#include <charconv>

namespace {

std::optional<long long> Number(std::string_view text) {
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

class CParser {
public:
    CParser(std::string_view text, const CSimPredicate::Attributes& attributes)
        : m_text(text), m_attributes(attributes) {}

    std::optional<bool> Filter() {
        if (m_depth > 64 || !Take('(')) {
            return std::nullopt;
        }
        ++m_depth;
        std::optional<bool> result;
        if (Take('&')) {
            result = List(true);
        } else if (Take('|')) {
            result = List(false);
        } else if (Take('!')) {
            result = Filter();
            if (result) {
                result = !*result;
            }
        } else {
            result = Item();
        }
        --m_depth;
        if (!result || !Take(')')) {
            return std::nullopt;
        }
        return result;
    }

    bool AtEnd() const { return m_nPos == m_text.size(); }

private:
    bool Take(char c) {
        if (m_nPos < m_text.size() && m_text[m_nPos] == c) {
            ++m_nPos;
            return true;
        }
        return false;
    }

    std::optional<bool> List(bool all) {
        bool result = all;
        bool any = false;
        while (m_nPos < m_text.size() && m_text[m_nPos] == '(') {
            std::optional<bool> item = Filter();
            if (!item) {
                return std::nullopt;
            }
            result = all ? (result && *item) : (result || *item);
            any = true;
        }
        return any ? std::optional<bool>(result) : std::nullopt;
    }

    std::optional<bool> Item() {
        std::size_t end = m_text.find(')', m_nPos);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        std::string_view item = m_text.substr(m_nPos, end - m_nPos);
        m_nPos = end;
        std::size_t equals = item.find('=');
        if (equals == std::string_view::npos || equals == 0) {
            return std::nullopt;
        }
        char op = '=';
        std::string_view tag = item.substr(0, equals);
        if (tag.back() == '~' || tag.back() == '<' || tag.back() == '>') {
            op = tag.back();
            tag.remove_suffix(1);
        }
        std::optional<std::string> wanted = CSlpAttrList::Unescape(item.substr(equals + 1));
        if (!wanted || FoldWhiteSpaceLower(tag).empty()) {
            return std::nullopt;
        }
        for (const auto& [name, value] : m_attributes) {
            if (CSlpAttrList::TagsEqual(name, tag) && Compare(op, value, *wanted)) {
                return true;
            }
        }
        return false;
    }

    static bool Compare(char op, const std::string& value, const std::string& wanted) {
        if (op == '=' && wanted == "*") {
            return true;
        }
        std::optional<long long> left = Number(value);
        std::optional<long long> right = Number(wanted);
        if (left && right) {
            return op == '<' ? *left <= *right : op == '>' ? *left >= *right : *left == *right;
        }
        std::string a = FoldWhiteSpaceLower(value);
        std::string b = FoldWhiteSpaceLower(wanted);
        switch (op) {
        case '<':
            return a <= b;
        case '>':
            return a >= b;
        case '~':
            return a == b;
        default:
            return CSlpAttrList::WildcardMatch(b, a);
        }
    }

    std::string_view m_text;
    const CSimPredicate::Attributes& m_attributes;
    std::size_t m_nPos = 0;
    int m_depth = 0;
};

} // namespace

std::optional<bool> CSimPredicate::Matches(std::string_view filter, const Attributes& attributes) {
    while (!filter.empty() && filter.front() == ' ') {
        filter.remove_prefix(1);
    }
    while (!filter.empty() && filter.back() == ' ') {
        filter.remove_suffix(1);
    }
    if (filter.empty()) {
        return true;
    }
    CParser parser(filter, attributes);
    std::optional<bool> result = parser.Filter();
    if (!result || !parser.AtEnd()) {
        return std::nullopt;
    }
    return result;
}
