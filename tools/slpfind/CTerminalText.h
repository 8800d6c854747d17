// What the finder prints of the text that agents send: a hostile agent's URL or attribute
// list must not drive the operator's terminal. Control bytes, the C1 controls and bytes that
// are not UTF-8 come out as "\xNN"; printable UTF-8 (and the backslash escapes of SLP
// attribute lists) is left as it is.
#pragma once

#include <string>
#include <string_view>

class CTerminalText {
public:
    static std::string Safe(std::string_view text);

private:
    // The length of the well-formed UTF-8 sequence of a printable character at the start of
    // text, 0 when there is none.
    static std::size_t PrintableSequence(std::string_view text);
};
