// orvane-slpfind: a small SLP user agent for operators and tests.
//   orvane-slpfind findsrvs <service-type>   one service URL per line
//   orvane-slpfind findattrs <url>           the attribute list of one service
//   orvane-slpfind discover <service-type>   each URL, a tab, its attribute list: the URLs
//                                            found and, inside the search, one attribute
//                                            query per URL on a second handle
// Options: --scope S (default from the SLP configuration), --filter F, --attrs IDS,
// --passes N (run the command N times in one process, as a program that keeps searching
// does; before each pass after the first, a line "--" is printed and one line is read from
// standard input, so that a test can change the network in between).
// Exit status: 0 done (also when nothing was found), 1 SLP or network error (also after URLs
// were printed, when an agent's reply was cut short and could not be fetched whole), 2 bad
// usage.
// What agents send is printed with control bytes as "\xNN" (EscapeForTerminal).
#include "platform/slp/slp.h"
#include "platform/text/TextEscape.h"

#include <charconv>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string command;
    std::string target;
    std::string scope;
    std::string filter;
    std::string attrs;
    int passes = 1;
};

const char* kUsage = "usage: orvane-slpfind findsrvs|findattrs|discover <service-type-or-url>\n"
                     "                      [--scope S] [--filter F] [--attrs IDS] [--passes N]\n";
constexpr int kMaxPasses = 1000;

std::optional<int> ParsePasses(std::string_view text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1 ||
        value > kMaxPasses) {
        return std::nullopt;
    }
    return value;
}

bool ParseArgs(int argc, char** argv, Options& options) {
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--scope" || arg == "--filter" || arg == "--attrs") {
            if (i + 1 >= argc) {
                std::cerr << "orvane-slpfind: " << arg << " needs a value\n";
                return false;
            }
            std::string& slot = arg == "--scope"    ? options.scope
                                : arg == "--filter" ? options.filter
                                                    : options.attrs;
            slot = argv[++i];
        } else if (arg == "--passes") {
            std::optional<int> passes =
                i + 1 < argc ? ParsePasses(argv[++i]) : std::optional<int>();
            if (!passes) {
                std::cerr << "orvane-slpfind: --passes needs a number from 1 to " << kMaxPasses
                          << "\n";
                return false;
            }
            options.passes = *passes;
        } else if (arg.rfind("--", 0) == 0) {
            std::cerr << "orvane-slpfind: unknown option " << arg << "\n";
            return false;
        } else {
            words.push_back(arg);
        }
    }
    if (words.size() != 2 ||
        (words[0] != "findsrvs" && words[0] != "findattrs" && words[0] != "discover")) {
        return false;
    }
    options.command = words[0];
    options.target = words[1];
    return true;
}

SLPBoolean PrintUrl(SLPHandle, const char* url, unsigned short, SLPError error, void*) {
    if (error == SLP_OK) {
        std::cout << EscapeForTerminal(url) << "\n";
    }
    return SLP_TRUE;
}

SLPBoolean PrintAttrs(SLPHandle, const char* attrs, SLPError error, void*) {
    if (error == SLP_OK) {
        std::cout << EscapeForTerminal(attrs) << "\n";
    }
    return SLP_FALSE;
}

struct DiscoverState {
    const Options* options;
    std::string attrs;
    bool found = false;
};

SLPBoolean KeepAttrs(SLPHandle, const char* attrs, SLPError error, void* cookie) {
    auto* state = static_cast<DiscoverState*>(cookie);
    if (error == SLP_OK) {
        state->attrs = attrs;
        state->found = true;
    }
    return SLP_FALSE;
}

SLPBoolean DiscoverUrl(SLPHandle, const char* url, unsigned short, SLPError error, void* cookie) {
    if (error != SLP_OK) {
        return SLP_TRUE;
    }
    auto* state = static_cast<DiscoverState*>(cookie);
    SLPHandle second = nullptr;
    if (SLPOpen(nullptr, SLP_FALSE, &second) != SLP_OK) {
        return SLP_TRUE;
    }
    state->found = false;
    SLPFindAttrs(second, url, state->options->scope.c_str(), state->options->attrs.c_str(),
                 KeepAttrs, state);
    SLPClose(second);
    std::cout << EscapeForTerminal(url) << "\t"
              << EscapeForTerminal(state->found ? state->attrs : std::string()) << "\n"
              << std::flush;
    return SLP_TRUE;
}

SLPError RunOnce(const Options& options) {
    SLPHandle handle = nullptr;
    SLPError result = SLPOpen(nullptr, SLP_FALSE, &handle);
    if (result != SLP_OK) {
        return result;
    }
    if (options.command == "findsrvs") {
        result = SLPFindSrvs(handle, options.target.c_str(), options.scope.c_str(),
                             options.filter.c_str(), PrintUrl, nullptr);
    } else if (options.command == "findattrs") {
        result = SLPFindAttrs(handle, options.target.c_str(), options.scope.c_str(),
                              options.attrs.c_str(), PrintAttrs, nullptr);
    } else {
        DiscoverState state{&options, {}, false};
        result = SLPFindSrvs(handle, options.target.c_str(), options.scope.c_str(),
                             options.filter.c_str(), DiscoverUrl, &state);
    }
    SLPClose(handle);
    return result;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArgs(argc, argv, options)) {
        std::cerr << kUsage;
        return 2;
    }
    SLPError result = SLP_OK;
    for (int pass = 0; pass < options.passes; ++pass) {
        if (pass > 0) {
            std::cout << "--\n" << std::flush;
            std::string line;
            std::getline(std::cin, line);
        }
        if (SLPError error = RunOnce(options); error != SLP_OK) {
            result = error;
        }
    }
    if (result != SLP_OK) {
        std::cerr << "orvane-slpfind: SLP error " << result << "\n";
        return 1;
    }
    return 0;
}
