// The cap on connections served at once, shared by the plain and the TLS port. Neither port may
// hold more than three quarters of it, so that each always has a quarter: a flood on one port
// cannot starve the other. The acceptor of a port accepts a connection, then admits it: at once
// when there is room; at the cap, by closing the connection that has waited longest without
// completing its request line and headers (its TLS handshake included), since a client that
// has not yet said what it wants is the cheapest one to send away, and one that holds a slot by
// never finishing would otherwise keep everyone out; and when every connection is past its
// headers, by waiting for one to end. Stop ends every wait, present and future.
//
// Each connection carries a CTicket on its thread's stack. Nothing is allocated per connection,
// and a connection reaching the end of its headers settles its ticket with one atomic step: the
// lock is taken only to admit a connection and to give its slot back.
#pragma once

#include "service/listener/CIdleConnectionThreads.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

class CConnectionSlots {
public:
    // One connection's place, from its acceptance to its end. While the connection waits for its
    // request line and headers the ticket is listed, oldest first, and may be closed to admit a
    // newer one: the socket is shut down, which ends every wait of its thread.
    class CTicket {
    public:
        CTicket(CConnectionSlots& slots, EListener port, int fd);
        // Gives the slot back; settles the ticket first.
        ~CTicket();
        CTicket(const CTicket&) = delete;
        CTicket& operator=(const CTicket&) = delete;

        // The request line and headers are in: the connection is no longer closed for another.
        // Also called before the descriptor is closed, which no other thread may touch after
        // this returns.
        void Settle();

    private:
        friend class CConnectionSlots;
        enum class EState : uint8_t { Waiting, Settled, Closed };

        CConnectionSlots& m_slots;
        const EListener m_port;
        const int m_fd;
        std::atomic<EState> m_state{EState::Waiting};
        // Under the slots' lock: the list of waiting tickets, and whether this one counts.
        CTicket* m_pPrev = nullptr;
        CTicket* m_pNext = nullptr;
        bool m_bListed = false;
        bool m_bCounted = false;
    };

    enum class EAdmit {
        Admitted,
        AdmittedByClosing, // the connection waiting longest for its headers was closed for it
        Full,              // no room and none to close: WaitAndAdmit waits
        Stopped,           // the service stops
    };

    explicit CConnectionSlots(std::size_t nMax);

    // Admits the ticket's connection if that can be done without waiting.
    EAdmit TryAdmit(CTicket& ticket);
    // Waits until the connection is admitted; false when the service stops first.
    bool WaitAndAdmit(CTicket& ticket);
    void Stop();
    // Connections admitted and not yet ended, in all.
    std::size_t Taken();
    // Those of them still waiting for their request line and headers.
    std::size_t Waiting();
    // The most one port may hold.
    std::size_t PortMax() const { return m_nPortMax; }

private:
    static constexpr std::size_t kPorts = 2;
    static std::size_t Index(EListener port) { return port == EListener::Tls ? 1 : 0; }

    EAdmit AdmitLocked(CTicket& ticket);
    // The oldest waiting ticket that may be closed to admit one of port; settled tickets met on
    // the way leave the list.
    CTicket* OldestWaiting(EListener port);
    void List(CTicket& ticket);
    void Unlist(CTicket& ticket);
    void Release(CTicket& ticket);

    const std::size_t m_nMax;
    const std::size_t m_nPortMax;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_nTaken = 0;
    std::array<std::size_t, kPorts> m_nTakenBy{};
    CTicket* m_pOldest = nullptr; // the list of waiting tickets, in the order they were admitted
    CTicket* m_pNewest = nullptr;
    bool m_bStopped = false;
};
