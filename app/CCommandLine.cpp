// Parsing of the program's command line; see CCommandLine.h.
#include "app/CCommandLine.h"

#include "platform/io/CUniqueFd.h"
#include "platform/text/TextConv.h"
#include "resources/OrvaneVersion.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct CToolkitOption {
    std::string_view name; // with one leading dash
    bool bTakesValue;
};

// The toolkit's own options, as its application objects read them (each also with two dashes).
constexpr std::array kToolkitOptions{
    CToolkitOption{"-platform", true},      CToolkitOption{"-platformpluginpath", true},
    CToolkitOption{"-platformtheme", true}, CToolkitOption{"-plugin", true},
    CToolkitOption{"-qmljsdebugger", true}, CToolkitOption{"-qwindowgeometry", true},
    CToolkitOption{"-qwindowicon", true},   CToolkitOption{"-qwindowtitle", true},
    CToolkitOption{"-geometry", true},      CToolkitOption{"-title", true},
    CToolkitOption{"-icon", true},          CToolkitOption{"-display", true},
    CToolkitOption{"-name", true},          CToolkitOption{"-session", true},
    CToolkitOption{"-style", true},         CToolkitOption{"-stylesheet", true},
    CToolkitOption{"-visual", true},        CToolkitOption{"-reverse", false},
    CToolkitOption{"-widgetcount", false},  CToolkitOption{"-nograb", false},
    CToolkitOption{"-dograb", false},       CToolkitOption{"-sync", false},
};

} // namespace

CCommandLine::CCommandLine(std::span<char* const> args) {
    if (!args.empty()) {
        m_toolkitArgs.push_back(args[0]);
    }
    for (std::size_t i = 1; i < args.size() && m_action != EAction::BadUsage; ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            // The first of --help and --version wins; a bad option anywhere still wins over both.
            m_action = m_action == EAction::Run ? EAction::Help : m_action;
        } else if (arg == "--version") {
            m_action = m_action == EAction::Run ? EAction::Version : m_action;
        } else if (arg == "--headless") {
            m_bHeadless = true;
        } else if (arg == "--https-only-query") {
            m_bHttpsOnlyQuery = true;
        } else if (IsValueOption(arg, "--www")) {
            m_strWww = TakeValue(args, i, "--www", "a folder");
        } else if (IsValueOption(arg, "--seal-key")) {
            // Made absolute now: Prepare changes into the served folder.
            const std::string file = TakeValue(args, i, "--seal-key", "a file");
            std::error_code ec;
            m_sealKeyFile =
                file.empty() ? std::filesystem::path() : std::filesystem::absolute(file, ec);
        } else if (const std::size_t n = ToolkitOptionLength(arg); n != 0) {
            if (i + n > args.size()) {
                Fail(std::string(arg) + " needs a value");
                break;
            }
            for (std::size_t k = 0; k < n; ++k) {
                m_toolkitArgs.push_back(args[i + k]);
            }
            i += n - 1;
        } else if (arg.starts_with('-')) {
            Fail("unknown option " + std::string(arg));
        } else {
            Fail("unexpected argument " + std::string(arg));
        }
    }
    m_toolkitArgs.push_back(nullptr);
}

bool CCommandLine::IsValueOption(std::string_view arg, std::string_view name) {
    return arg == name || (arg.starts_with(name) && arg.substr(name.size()).starts_with('='));
}

std::string CCommandLine::TakeValue(std::span<char* const> args, std::size_t& i,
                                    std::string_view name, std::string_view what) {
    const std::string_view arg = args[i];
    std::string_view value;
    if (arg == name) {
        if (i + 1 < args.size()) {
            value = args[++i];
        }
    } else {
        value = arg.substr(name.size() + 1);
    }
    if (value.empty()) {
        Fail(std::string(name) + " needs " + std::string(what));
    }
    return std::string(value);
}

void CCommandLine::Fail(std::string error) {
    m_action = EAction::BadUsage;
    m_strError = std::move(error);
}

std::size_t CCommandLine::ToolkitOptionLength(std::string_view arg) {
    if (arg.starts_with("--")) {
        arg.remove_prefix(1);
    }
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    const auto* option = std::find_if(kToolkitOptions.begin(), kToolkitOptions.end(),
                                      [name](const CToolkitOption& o) { return o.name == name; });
    if (option == kToolkitOptions.end()) {
        return 0;
    }
    if (equals != std::string_view::npos) {
        // "-style=fusion": name and value in one argument; only options with a value have one.
        return option->bTakesValue ? 1 : 0;
    }
    return option->bTakesValue ? 2 : 1;
}

int CCommandLine::Prepare() {
    switch (m_action) {
    case EAction::Help:
        std::fputs(Usage().c_str(), stdout);
        return 0;
    case EAction::Version:
        std::fputs(VersionText().c_str(), stdout);
        return 0;
    case EAction::BadUsage:
        std::fprintf(stderr, "OrvaneSrv: %s\n%s", m_strError.c_str(), Usage().c_str());
        return kBadUsageStatus;
    case EAction::Run:
        break;
    }
    if (!m_strWww.empty()) {
        if (const std::string error = EnterWwwDir(); !error.empty()) {
            std::fprintf(stderr, "OrvaneSrv: cannot serve %s: %s\n", m_strWww.c_str(),
                         error.c_str());
            return kBadUsageStatus;
        }
    }
    return -1;
}

std::string CCommandLine::EnterWwwDir() const {
    // Opened for reading first: a folder that can be entered but not listed or read serves
    // nothing, which the operator should hear now rather than from each request.
    const CUniqueFd folder(::open(m_strWww.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder || ::fchdir(folder.Get()) != 0) {
        return std::strerror(errno);
    }
    return {};
}

std::string CCommandLine::Usage() {
    return "usage: OrvaneSrv [--headless] [--www DIR] [--https-only-query] [--seal-key FILE]\n"
           "                 [--help] [--version]\n"
           "\n"
           "  --headless          run without a window even when a display is set\n"
           "  --www DIR           serve the files of DIR (the program changes into it); by\n"
           "                      default the working directory\n"
           "  --https-only-query  answer \"/Query\" on the TLS port (51443) only\n"
           "  --seal-key FILE     remember the arrays' authorizations across restarts, sealed\n"
           "                      under the key in FILE (orvanectl seal-key new FILE makes one);\n"
           "                      a systemd credential orvanesrv-seal-key does the same\n"
           "  --help              print this text and exit\n"
           "  --version           print the version and exit\n"
           "\n"
           "With a window, the toolkit's own options (-platform, -style, ...) are accepted.\n"
           "Without a display the program runs headless. orvanectl(1) manages a running copy.\n";
}

std::string CCommandLine::VersionText() {
    return "OrvaneSrv " + Utf16ToUtf8(ORVANE_VERSION_TEXT) + "\n";
}
