// The file dialogs' filter list and default extension in the console's own notation: a filter list
// is pairs of a description and its patterns separated by vertical bars and ended by two bars,
// "Orvane-Srv Files, (*.ovx)|*.ovx|All Files (*.*)|*.*||", patterns separated by semicolons; the
// default extension is given as "*.ovx". Qt wants "Description (pattern pattern)" instead.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct CFileFilter {
    std::u16string description;
    std::vector<std::u16string> patterns;
};

// The pairs of the list up to its closing bars; a description without patterns ends the list.
std::vector<CFileFilter> ParseFilterList(std::u16string_view list);

// Qt's form of one filter. "*.*" means every file here, as it did where the notation comes from,
// so it becomes "*"; a description that already ends in its parenthesised patterns gets them
// replaced rather than repeated.
std::u16string QtNameFilter(const CFileFilter& filter);

// "ovx" from "*.ovx", ".ovx" or "ovx"; the empty text when nothing is left.
std::u16string DefaultSuffix(std::u16string_view defaultExt);

// The path with "." and the suffix appended when its file name has no dot at all; a name with any
// dot, or an empty name, is left as typed.
std::u16string CompleteFileName(std::u16string_view path, std::u16string_view suffix);
