// Runs a set of simulated arrays in one process: for each array a UDP and a TCP socket on its
// SLP port and an HTTP listener, all on the array's own address, plus one socket that takes
// the multicast (and broadcast) requests for all of them, and one from which the arrays
// register with directory agents (CSimRegistrar). A single poll loop serves it all. In
// directory-agent mode it runs the directory agent test double (CSimDirectoryAgent) instead,
// on the first array's address and scope.
#pragma once

#include "platform/io/CUniqueFd.h"
#include "tools/array-sim/CArrayConfig.h"
#include "tools/array-sim/CSimDirectoryAgent.h"
#include "tools/array-sim/CSimRegistrar.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <netinet/in.h>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CSimServer {
public:
    struct CSettings {
        std::uint16_t m_nSlpPort = 427;
        std::uint16_t m_nHttpPort = 51000;
        std::vector<std::string> m_listDirectoryAgents; // addresses to register with
        std::uint16_t m_nLifetime = 10800;              // of a registration, in seconds
        bool m_bDirectoryAgent = false;
        std::string m_strForgedAdvert; // a forged directory agent's advert host (tests only)
        bool m_bTrace = false;         // a line on standard output for each request
    };
    // How long a simulator that stops waits for its deregistrations to be acknowledged.
    static constexpr std::chrono::milliseconds kLeaveWait{2000};
    // The first active DA discovery waits a random time up to this (CONFIG_START_WAIT), later
    // ones come every kDiscoveryInterval (CONFIG_DA_FIND).
    static constexpr std::chrono::milliseconds kStartWait{3000};
    static constexpr std::chrono::seconds kDiscoveryInterval{900};

    CSimServer(std::vector<CArrayConfig> arrays, CSettings settings);
    ~CSimServer();
    CSimServer(const CSimServer&) = delete;
    CSimServer& operator=(const CSimServer&) = delete;

    // Binds every socket; an error text on failure.
    std::string Start();
    // Serves until the stop flag is set, then takes leave of the directory agents.
    void Run(const std::atomic<bool>& stop);

private:
    enum class Kind { Multicast, SlpUdp, SlpListen, HttpListen, SlpStream, HttpStream, Registrar };
    struct Endpoint {
        Kind kind;
        CUniqueFd fd;
        std::size_t array;
        std::string in;
        std::string out;
        bool closeAfterWrite = false;
        bool ignoring = false;
        // Nothing of out is written before then (--http-delay-ms).
        std::chrono::steady_clock::time_point writeAfter{};
    };

    std::string Bind(Kind kind, std::size_t array, int type, std::uint16_t port);
    std::string StartArrays();
    std::string StartDirectoryAgent();
    std::string StartRegistrar();
    void Serve(const std::atomic<bool>& stop, std::chrono::steady_clock::time_point until);
    void Tick(std::chrono::steady_clock::time_point now);
    // How long poll may wait: until the next held answer is due, at most kPollMs.
    int WaitMs(std::chrono::steady_clock::time_point now) const;
    void SendMulticast(const std::vector<std::uint8_t>& message);
    void OnRegistrar(Endpoint& endpoint);
    void Trace(std::string_view how, std::span<const std::uint8_t> request) const;
    // A DAAdvert or SrvAck for the registrar; false when the message is neither.
    bool ForRegistrar(const std::vector<std::uint8_t>& message, const sockaddr_in& from);
    void OnReadable(std::size_t index);
    void OnWritable(std::size_t index);
    void OnMulticast(Endpoint& endpoint);
    void OnSlpUdp(Endpoint& endpoint);
    void OnAccept(Endpoint& endpoint);
    void OnStream(Endpoint& endpoint);
    void Reply(std::size_t array, const std::vector<std::uint8_t>& request, const sockaddr_in& from,
               bool multicast);
    void Close(std::size_t index);

    std::vector<CArrayConfig> m_arrArrays;
    CSettings m_settings;
    std::vector<int> m_arrUdpFd; // per array, to send replies from its own address
    std::vector<Endpoint> m_listEndpoints;
    int m_nMulticastFd = -1;
    int m_nRegistrarFd = -1;
    std::unique_ptr<CSimDirectoryAgent> m_pDirectoryAgent;
    std::unique_ptr<CSimRegistrar> m_pRegistrar;
    std::chrono::steady_clock::time_point m_nextDiscovery;
    std::chrono::steady_clock::time_point m_nextExpiry;
};
