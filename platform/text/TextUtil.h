// Small helpers for 8-bit protocol and configuration text: ASCII letter case, blanks at the
// ends, comma lists. Only ASCII letters change case; other bytes are compared as they are.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Blanks, tabs, carriage returns, line feeds, vertical tabs and form feeds.
inline constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";

char AsciiLower(char c);
std::string AsciiLower(std::string_view text);

// The text without white space at either end.
std::string_view Trim(std::string_view text);

// The items between commas, each trimmed; empty items are dropped.
std::vector<std::string_view> SplitList(std::string_view text, char separator = ',');

// Lower case with every run of white space folded into one blank and none at the ends: the
// form in which SLP compares tags, scopes, types and string values.
std::string FoldWhiteSpaceLower(std::string_view text);

bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
