// Runs a set of simulated arrays in one process: for each array a UDP and a TCP socket on its
// SLP port and an HTTP listener, all on the array's own address, plus one socket that takes
// the multicast (and broadcast) requests for all of them. A single poll loop serves it all.
#pragma once

#include "platform/io/CUniqueFd.h"
#include "tools/array-sim/CArrayConfig.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <vector>

class CSimServer {
public:
    CSimServer(std::vector<CArrayConfig> arrays, std::uint16_t slpPort, std::uint16_t httpPort);
    ~CSimServer();
    CSimServer(const CSimServer&) = delete;
    CSimServer& operator=(const CSimServer&) = delete;

    // Binds every socket; an error text on failure.
    std::string Start();
    // Serves until the stop flag is set.
    void Run(const std::atomic<bool>& stop);

private:
    enum class Kind { Multicast, SlpUdp, SlpListen, HttpListen, SlpStream, HttpStream };
    struct Endpoint {
        Kind kind;
        CUniqueFd fd;
        std::size_t array;
        std::string in;
        std::string out;
        bool closeAfterWrite = false;
        bool ignoring = false;
    };

    std::string Bind(Kind kind, std::size_t array, int type, std::uint16_t port);
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
    std::vector<int> m_arrUdpFd; // per array, to send replies from its own address
    std::vector<Endpoint> m_listEndpoints;
    std::uint16_t m_nSlpPort;
    std::uint16_t m_nHttpPort;
};
