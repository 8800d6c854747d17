// How names typed by people are compared, without a GUI toolkit: white space of every script
// (the Unicode White_Space property, so U+00A0 and U+3000 count as blanks), and letter case by
// simple case folding, one code point for one code point, so that "ÄDMIN" and "ädmin" are the
// same name but for case. The tables are ICU's: a hand-made table would lag behind Unicode.
#pragma once

#include <string>
#include <string_view>

// Whether nothing but white space is in text (the empty text included).
bool IsBlankText(std::u16string_view text);

// text with every code point simply case folded; an unpaired surrogate stays as it is.
std::u16string FoldCase(std::u16string_view text);

// Whether a and b are the same text but for letter case, and not the same text.
bool DifferInCaseOnly(std::u16string_view a, std::u16string_view b);
