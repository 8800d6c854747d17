// The program with its window: one copy per user (a second copy brings the first one's window
// forward and ends without reading the store), the socket layer check, then the main window run
// modally until the operator closes it or a stop signal comes. Its interface knows nothing of Qt,
// so that main() can choose between it and the headless runner.
#pragma once

#include "core/COrvaneSrvApp.h"

#include <filesystem>
#include <string_view>

class CConsoleFrontEnd {
public:
    // app: the instance lock and the start-up and shutdown order with the credential service.
    explicit CConsoleFrontEnd(COrvaneSrvApp& app);

    // Answers the process exit status.
    int Run(int argc, char** argv);

    // The start refused before anything ran (a settings file at fault): the reason in a box,
    // then the exit status for it.
    static int RefuseStart(int argc, char** argv, std::string_view reason);

    // Where a running copy listens for activation: beside the store and its instance lock.
    static std::filesystem::path ActivationSocket(const std::filesystem::path& storeFile);

private:
    COrvaneSrvApp& m_app;
};
