// One life of the program's core over a fleet that only the benchmark knows: its arrays are
// registered with the in-memory directory agent at loopback addresses and log in through
// CLoginResponder, and the core is started and stopped in the program's own order
// (COrvaneSrvApp: the store, discovery, the seal, then the credential service on a free port).
// Each phase runs in a process of its own, so that the memory it reports is its own.
//
// Make is the first run: the directory (a user whose one group reaches every array), every
// array authorized, and the sealed file written as the program writes it. Restart is the run
// with remembering (timed from start, or from the unseal for a passphrase); LoginAll the one
// without: a first discovery pass, then a login to every array as "orvanectl login --all"
// sends it on the core's pool.
#pragma once

#include "bench/service/CDirectoryAgentSlp.h"
#include "bench/service/CDiscoveryChurn.h"
#include "core/COrvaneSrvApp.h"
#include "core/COrvaneSrvCore.h"
#include "service/CCredentialService.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// How the sealed file is locked: by a key file, a passphrase, or not at all (nothing sealed).
enum class EFleetSeal { KeyFile, Passphrase, None };

class CFleetRun {
public:
    struct CSettings {
        std::filesystem::path folder;  // the store's folder, where the sealed file lies beside it
        std::filesystem::path keyFile; // for EFleetSeal::KeyFile
        EFleetSeal eSeal = EFleetSeal::None;
        int nArrays = 0;
        uint16_t nLoginPort = 0;
        // A run that has not listed every array by then ends as failed.
        std::chrono::seconds limit{120};
    };
    // Named measures in the order they were taken (milliseconds, megabytes or counts).
    using CFigures = std::vector<std::pair<std::string, double>>;

    static constexpr const char* kUserName = "fleet";
    static constexpr const char* kUserPassword = "fleet-password";
    static constexpr const char* kAdminPassword = "array-admin-password";

    explicit CFleetRun(CSettings settings);
    ~CFleetRun();
    CFleetRun(const CFleetRun&) = delete;
    CFleetRun& operator=(const CFleetRun&) = delete;

    // Each answers what it measured, and whether the run reached its end.
    bool Make(CFigures& figures);
    bool Restart(CFigures& figures);
    bool LoginAll(CFigures& figures);

    static std::string Mac(int i);
    static std::string Address(int i);

private:
    // The key file's key when the run seals with one; false (said why) when it is refused.
    bool LoadKey(CSecretBytes& key) const;
    bool Start(CSecretBytes key, bool bDiscovery);
    void Stop(CFigures& figures);
    CServiceOptions ServiceOptions() const;
    std::size_t Authorized() const;
    // How many arrays "/Query" lists for the fleet's user now.
    std::size_t Listed() const;
    // Samples until "/Query" lists every array or the limit passes; records when the first
    // pass ended and, with a seal, when every remembered authorization was settled.
    bool WaitUntilListed(std::chrono::steady_clock::time_point t0, CFigures& figures);
    void FillDirectory();
    void FillAuthorizedServers();
    void Memory(CFigures& figures) const;

    CSettings m_settings;
    CCredentialService m_service;
    std::unique_ptr<COrvaneSrvApp> m_pApp;
    COrvaneSrvApp::CFrontEndSteps m_steps;
    std::unique_ptr<CDiscoveryChurn> m_pChurn;
    std::unique_ptr<COrvaneSrvCore> m_pCore;
    std::size_t m_nSealLines = 0;
};
