#include "tests/support/RunShell.h"

#include <cstdio>

std::string RunShell(const std::string& command) {
    std::string quoted = "'";
    for (const char c : command) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    quoted += "'";
    std::string out;
    FILE* pipe = ::popen(("bash -c " + quoted).c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    ::pclose(pipe);
    return out;
}
