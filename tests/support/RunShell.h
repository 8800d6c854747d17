// Runs a command line with bash, for tests that drive the program's tools and the lab.
#pragma once

#include <string>

// Answers the command's standard output.
std::string RunShell(const std::string& command);
