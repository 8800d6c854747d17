// Start-up and shutdown of the process: the single-instance check, the load of the directory,
// the built-in accounts, the credential service, and the orderly stop.
#pragma once

#include "core/COrvaneSrvCore.h"

#include <filesystem>
#include <functional>
#include <memory>

class COrvaneSrvApp {
public:
    // What the program runs beside the directory; core knows the service only through these.
    struct CServiceHooks {
        std::function<void(COrvaneSrvCore&)> start; // last step of start-up
        std::function<void(COrvaneSrvCore&)> stop;  // first step of shutdown
    };

    explicit COrvaneSrvApp(CServiceHooks hooks);
    ~COrvaneSrvApp();
    COrvaneSrvApp(const COrvaneSrvApp&) = delete;
    COrvaneSrvApp& operator=(const COrvaneSrvApp&) = delete;

    // Runs the program headless until SIGINT or SIGTERM; answers the process exit status.
    // A second copy finds the first one's instance lock, and ends at once with status 0.
    int RunHeadless();

    // The steps of start-up and shutdown, for the console and for tests.
    bool AcquireInstanceLock(const std::filesystem::path& lockFile);
    std::unique_ptr<COrvaneSrvCore> StartUp(std::unique_ptr<CRegistryHive> hive);
    void ShutDown(std::unique_ptr<COrvaneSrvCore> core);

private:
    CServiceHooks m_hooks;
    int m_lockFd = -1;
};
