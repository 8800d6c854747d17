// Reading secrets without echo, restoring the terminal whatever happens.
#include "tools/orvanectl/TerminalInput.h"

#include <cctype>
#include <cstdio>
#include <iostream>
#include <termios.h>
#include <unistd.h>

namespace {

// One line from standard input, without its line end; nothing at its end.
std::optional<std::string> ReadLine() {
    std::string line;
    if (!std::getline(std::cin, line) && line.empty()) {
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

std::optional<std::string> Prompt(const std::string& question) {
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) {
        return std::nullopt;
    }
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    std::fputs(question.c_str(), stderr);
    std::fflush(stderr);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::optional<std::string> answer = ReadLine();
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
    return answer;
}

std::string Capitalized(std::string text) {
    if (!text.empty()) {
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    }
    return text;
}

} // namespace

std::optional<std::string> AskSecret(bool bFromStdin, bool bConfirm, const CSecretWords& words,
                                     std::string& why) {
    const std::string noun = words.noun;
    if (bFromStdin) {
        auto line = ReadLine();
        if (!line) {
            why = "no " + noun + " on standard input";
        }
        return line;
    }
    if (::isatty(STDIN_FILENO) == 0) {
        why = "no terminal to ask for the " + noun + " on; use " + words.stdinOption;
        return std::nullopt;
    }
    auto first = Prompt(Capitalized(noun) + ": ");
    if (!first) {
        why = "no " + noun + " given";
        return std::nullopt;
    }
    if (bConfirm && Prompt("Retype " + noun + ": ") != first) {
        why = Capitalized(noun) + " is not match";
        return std::nullopt;
    }
    return first;
}
