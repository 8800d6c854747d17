// Start-up and shutdown order of the program, shared by its front ends: the single-instance
// lock, the load of the directory, the built-in accounts, what runs beside the directory (the
// credential service), and the orderly stop.
#pragma once

#include "core/COrvaneSrvCore.h"
#include "platform/io/CUniqueFd.h"

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

    // False when another copy of the program holds the lock (it then runs for this user).
    bool AcquireInstanceLock(const std::filesystem::path& lockFile);
    std::unique_ptr<COrvaneSrvCore> StartUp(std::unique_ptr<CRegistryHive> hive);
    void ShutDown(std::unique_ptr<COrvaneSrvCore> core);

private:
    CServiceHooks m_hooks;
    CUniqueFd m_lockFd;
};
