// Base64 of RFC 4648 (alphabet A-Z a-z 0-9 + /): the strict encoder of the login client and the
// lenient decoder of the Basic credentials that the credential service receives.
#pragma once

#include <string>
#include <string_view>

// "=" padding to a multiple of four characters, no line breaks.
std::string Base64Encode(std::string_view bytes);

// Every byte outside the alphabet (blanks, line breaks, bytes of 128 and above) is skipped
// wherever it stands, and padding is optional. An equals sign in the third or fourth place of a
// group ends the decoding; in the first or second place it is skipped like any other byte
// outside the alphabet. A group cut short after one value yields nothing, after two one byte,
// after three two bytes.
std::string Base64Decode(std::string_view text);
