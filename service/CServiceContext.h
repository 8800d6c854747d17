// What every connection thread of one run of the credential service shares: the directory core
// with the guard over its tables, the settings of the run and the folder that GET serves.
//
// The threads hold the guard by shared pointer, so it outlives the core. Every access to the
// core goes through WithTables, which takes the guard and checks m_bTablesAlive first: once the
// tables have been freed, a thread that is still serving never dereferences the core again.
#pragma once

#include "core/COrvaneSrvCore.h"
#include "service/CBlockingSocket.h"
#include "service/CUniqueFd.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

struct CServiceOptions {
    static constexpr uint16_t kDefaultPort = 51001;
    // Enough pending connections that bursts of clients are not dropped while the next
    // acceptor thread starts; see the benchmark.
    static constexpr int kDefaultBacklog = 128;

    uint16_t nPort = kDefaultPort; // 0: any free port (read back with CredentialServerPort)
    int nWaitMs = CBlockingSocket::kDefaultWaitMs;
    int nRequestDeadlineMs = 30000; // request line, header lines and body line together
    int nLingerMs = 2000;           // after a response, wait this long for the client to close
    int nBacklog = kDefaultBacklog;
    std::filesystem::path docRoot; // empty: the working directory at start
    int nLogFd = 2;                // where the log lines go (standard error); -1: nowhere
};

class CServiceContext {
public:
    CServiceContext(COrvaneSrvCore& core, CServiceOptions options);

    // Runs f(core) under the shared guard; false (f not run) once the tables are gone.
    template <class F>
    bool WithTablesShared(F&& f) const {
        auto lock = m_pGuard->LockShared();
        if (!m_pGuard->m_bTablesAlive) {
            return false;
        }
        f(*m_pCore);
        return true;
    }
    template <class F>
    bool WithTablesExclusive(F&& f) const {
        auto lock = m_pGuard->LockExclusive();
        if (!m_pGuard->m_bTablesAlive) {
            return false;
        }
        f(*m_pCore);
        return true;
    }

    const CServiceOptions m_options;
    // The served folder with symbolic links resolved, without a trailing slash (except "/").
    const std::string m_strDocRoot;
    const CUniqueFd m_docRootFd; // the folder opened with O_PATH, for lookups beneath it
    std::atomic<bool> m_bStopping{false};

private:
    COrvaneSrvCore* const m_pCore;
    const std::shared_ptr<CDirectoryGuard> m_pGuard;
};
