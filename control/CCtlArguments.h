// orvanectl's command line checked before anything is asked or sent: every command and
// subcommand answers -h/--help with its own usage, an argument that starts with '-' is an option
// the command takes or a refusal (never a file or a name, unless it follows "--"), and what can
// be judged where it is typed (a user name the credential service could not carry, a MAC that is
// not one, an audit event kind the trail never writes) is refused with the reason before any
// password is asked for or any connection made. Qt-free and without a running copy, so that
// orvanectl and the tests share it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class CCtlArguments {
public:
    enum class EOutcome {
        Run,      // args holds the request's words
        Help,     // text is the usage asked for, for standard output
        Version,  // text is the version line
        BadUsage, // text says why, for standard error
    };
    struct CResult {
        EOutcome eOutcome = EOutcome::Run;
        std::string text;
        // The command (and its verb), its options in the order given, then "--" when a word
        // starts with '-', then the words (a name, a file, MACs).
        std::vector<std::string> args;
    };

    static CResult Check(const std::vector<std::string>& argv, std::string_view version);
    // The usage of every command, as "orvanectl --help" shows it.
    static std::string_view Usage();
};
