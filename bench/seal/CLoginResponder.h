// The arrays' login side for the benchmarks: one listener on every local address of a private
// network namespace, so that a single port answers the logins to thousands of loopback
// addresses (127.0.0.0/8 is all loopback), each request judged by the array simulator's own HTTP
// logic. A few threads each take one connection at a time: the login pool holds at most 32, and
// a loopback answer costs far less than the client's side of it.
#pragma once

#include "platform/io/CUniqueFd.h"
#include "tools/array-sim/CArrayConfig.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

class CLoginResponder {
public:
    // Listens on any address at a free port; Port() is 0 when that failed.
    CLoginResponder(CArrayConfig array, int nThreads);
    // Stops accepting and waits for the connections being answered.
    ~CLoginResponder();
    CLoginResponder(const CLoginResponder&) = delete;
    CLoginResponder& operator=(const CLoginResponder&) = delete;

    uint16_t Port() const { return m_nPort; }
    // Logins answered so far, with any status.
    std::size_t Answered() const { return m_nAnswered; }

private:
    void AcceptLoop();
    void Answer(int fd);

    CArrayConfig m_array;
    CUniqueFd m_listen;
    uint16_t m_nPort = 0;
    std::atomic<bool> m_bStop{false};
    std::atomic<std::size_t> m_nAnswered{0};
    std::vector<std::thread> m_listThreads;
};
