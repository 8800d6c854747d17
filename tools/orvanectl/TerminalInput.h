// Secrets typed by the operator: read as one line from standard input, or asked on the terminal
// with echo off (twice when a new one is set), never taken from the command line.
#pragma once

#include <optional>
#include <string>

// The words used for one kind of secret: "password" and "--password-stdin", say.
struct CSecretWords {
    const char* noun;
    const char* stdinOption;
};

// The secret from standard input or the terminal; none with why set when there is none.
std::optional<std::string> AskSecret(bool bFromStdin, bool bConfirm, const CSecretWords& words,
                                     std::string& why);
