// The lenient Base64 decoder of the Basic credentials: RFC 4648 alphabet, every byte outside it
// (blanks, line breaks, bytes of 128 and above) skipped wherever it stands, padding optional.
#pragma once

#include <string>
#include <string_view>

// An equals sign in the third or fourth place of a group ends the decoding; in the first or
// second place it is skipped like any other byte outside the alphabet. A group cut short after
// one value yields nothing, after two one byte, after three two bytes.
std::string Base64Decode(std::string_view text);
