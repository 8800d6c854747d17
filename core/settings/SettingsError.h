// Why the settings file was refused: the line at fault (0 for the file as a whole) and the reason
// in words for the operator.
#pragma once

#include <string>

struct SSettingsError {
    int line = 0;
    std::string reason;

    // "line N: reason", or the reason alone for the file as a whole.
    std::string Text() const {
        return line > 0 ? "line " + std::to_string(line) + ": " + reason : reason;
    }
};
