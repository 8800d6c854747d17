// Attribute lists as SLP carries them: "(id=value),(id=value),keyword", with the reserved
// characters of values written as "\" and two hex digits. Parse is strict: a list with any
// malformed part yields nothing. Find reads part by part and passes over a malformed one, so
// that one bad attribute from an agent does not hide the sound ones beside it; nothing is ever
// guessed out of a malformed part.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct SlpAttribute {
    std::string tag;                  // as written, escapes left in place
    std::optional<std::string> value; // raw value list; none for a keyword
};

class CSlpAttrList {
public:
    static std::string Escape(std::string_view value);
    // nullopt when a backslash is not followed by two hex digits.
    static std::optional<std::string> Unescape(std::string_view raw);

    static std::optional<std::vector<SlpAttribute>> Parse(std::string_view list);

    // The unescaped value of the first well-formed attribute whose tag matches ("" for a
    // keyword); nullopt when there is none. Malformed parts, broken escapes included, count as
    // absent.
    static std::optional<std::string> Find(std::string_view list, std::string_view tag);

    // Tags compare without regard to ASCII case, with white space at the ends ignored and runs
    // of it inside taken as one blank.
    static bool TagsEqual(std::string_view a, std::string_view b);

    // Whether a tag list of a request ("a,b*,*c") selects this tag; an empty list selects all.
    static bool TagSelected(std::string_view tagList, std::string_view tag);

    // Whether text matches a pattern in which '*' stands for any run of characters.
    static bool WildcardMatch(std::string_view pattern, std::string_view text);

private:
    // One part of a list: its attribute (none when the part is malformed) and where the next
    // part starts (past the comma that ends this one, or the list's size).
    struct Part {
        std::optional<SlpAttribute> attr;
        std::size_t next = 0;
    };
    static Part ReadPart(std::string_view list, std::size_t start);
    static std::string FoldTag(std::string_view tag);
};
