// orvane-array-sim: stands in for storage arrays on a test network (see --help).
#include "tools/array-sim/CSimOptions.h"
#include "tools/array-sim/CSimPasswordPush.h"
#include "tools/array-sim/CSimServer.h"

#include <csignal>
#include <fstream>
#include <iostream>

namespace {

std::atomic<bool> g_bStop{false};

void OnSignal(int) {
    g_bStop = true;
}

} // namespace

int main(int argc, char** argv) {
    CSimOptions options;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (std::optional<std::string> error = options.Parse(args)) {
        std::cerr << "orvane-array-sim: " << *error << "\n";
        return 2;
    }
    if (options.m_bHelp) {
        std::cout << CSimOptions::Usage();
        return 0;
    }
    if (options.m_bPush) {
        return CSimPasswordPush::Push(options.m_arrArrays.front(), options.m_strManager,
                                      options.m_strPushPassword, std::cout, std::cerr);
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    CSimServer::CSettings settings;
    settings.m_nSlpPort = options.m_nSlpPort;
    settings.m_nHttpPort = options.m_nHttpPort;
    settings.m_listDirectoryAgents = options.m_listDirectoryAgents;
    settings.m_nLifetime = options.m_nLifetime;
    settings.m_bDirectoryAgent = options.m_bDirectoryAgent;
    settings.m_strForgedAdvert = options.m_strForgedAdvert;
    settings.m_bTrace = options.m_bTrace;
    CSimServer server(options.m_arrArrays, std::move(settings));
    if (std::string error = server.Start(); !error.empty()) {
        std::cerr << "orvane-array-sim: " << error << "\n";
        return 1;
    }
    if (!options.m_strReadyFile.empty()) {
        std::ofstream(options.m_strReadyFile) << options.m_arrArrays.size() << "\n";
    }
    server.Run(g_bStop);
    return 0;
}
