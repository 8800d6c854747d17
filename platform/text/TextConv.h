// Text conversion between the program's UTF-16 text and the 8-bit text of the wire, SLP values
// and fixed-size record fields. The platform's 8-bit code page is UTF-8: malformed sequences
// decode to U+FFFD, and unpaired surrogates encode as U+FFFD.
#pragma once

#include <string>
#include <string_view>

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Copies at most capacity - 1 bytes of text into a fixed char field and terminates it. A cut
// never splits a UTF-8 sequence.
void CopyToField(char* field, std::size_t capacity, std::string_view text);
