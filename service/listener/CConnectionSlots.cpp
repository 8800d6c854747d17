#include "service/listener/CConnectionSlots.h"

#include <sys/socket.h>

CConnectionSlots::CTicket::CTicket(CConnectionSlots& slots, EListener port, int fd)
    : m_slots(slots), m_port(port), m_fd(fd) {}

CConnectionSlots::CTicket::~CTicket() {
    Settle();
    m_slots.Release(*this);
}

void CConnectionSlots::CTicket::Settle() {
    EState expected = EState::Waiting;
    if (m_state.compare_exchange_strong(expected, EState::Settled)) {
        return;
    }
    if (expected == EState::Closed) {
        // The thread that closed it shuts the socket down under the lock: once this thread has
        // had the lock, that is done, and the descriptor may be closed and reused.
        const std::lock_guard lock(m_slots.m_mutex);
    }
}

CConnectionSlots::CConnectionSlots(std::size_t nMax)
    : m_nMax(nMax > 0 ? nMax : 1), m_nPortMax(m_nMax - m_nMax / 4) {}

CConnectionSlots::EAdmit CConnectionSlots::TryAdmit(CTicket& ticket) {
    const std::lock_guard lock(m_mutex);
    return AdmitLocked(ticket);
}

bool CConnectionSlots::WaitAndAdmit(CTicket& ticket) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        const EAdmit admit = AdmitLocked(ticket);
        if (admit != EAdmit::Full) {
            return admit != EAdmit::Stopped;
        }
        m_changed.wait(lock);
    }
}

CConnectionSlots::EAdmit CConnectionSlots::AdmitLocked(CTicket& ticket) {
    if (m_bStopped) {
        return EAdmit::Stopped;
    }
    EAdmit admit = EAdmit::Admitted;
    if (m_nTaken >= m_nMax || m_nTakenBy[Index(ticket.m_port)] >= m_nPortMax) {
        CTicket* const closed = OldestWaiting(ticket.m_port);
        if (closed == nullptr) {
            return EAdmit::Full;
        }
        ::shutdown(closed->m_fd, SHUT_RDWR);
        Unlist(*closed);
        closed->m_bCounted = false;
        --m_nTaken;
        --m_nTakenBy[Index(closed->m_port)];
        admit = EAdmit::AdmittedByClosing;
    }
    ticket.m_bCounted = true;
    ++m_nTaken;
    ++m_nTakenBy[Index(ticket.m_port)];
    List(ticket);
    return admit;
}

CConnectionSlots::CTicket* CConnectionSlots::OldestWaiting(EListener port) {
    // A port at its own limit gains room only from its own connections.
    const bool bOwnPortOnly = m_nTakenBy[Index(port)] >= m_nPortMax;
    for (CTicket* ticket = m_pOldest; ticket != nullptr;) {
        CTicket* const next = ticket->m_pNext;
        if (!bOwnPortOnly || ticket->m_port == port) {
            auto expected = CTicket::EState::Waiting;
            if (ticket->m_state.compare_exchange_strong(expected, CTicket::EState::Closed)) {
                return ticket;
            }
            Unlist(*ticket); // settled: it stays served
        }
        ticket = next;
    }
    return nullptr;
}

void CConnectionSlots::List(CTicket& ticket) {
    ticket.m_pPrev = m_pNewest;
    ticket.m_pNext = nullptr;
    (m_pNewest != nullptr ? m_pNewest->m_pNext : m_pOldest) = &ticket;
    m_pNewest = &ticket;
    ticket.m_bListed = true;
}

void CConnectionSlots::Unlist(CTicket& ticket) {
    (ticket.m_pPrev != nullptr ? ticket.m_pPrev->m_pNext : m_pOldest) = ticket.m_pNext;
    (ticket.m_pNext != nullptr ? ticket.m_pNext->m_pPrev : m_pNewest) = ticket.m_pPrev;
    ticket.m_pPrev = ticket.m_pNext = nullptr;
    ticket.m_bListed = false;
}

void CConnectionSlots::Release(CTicket& ticket) {
    {
        const std::lock_guard lock(m_mutex);
        if (ticket.m_bListed) {
            Unlist(ticket);
        }
        if (!ticket.m_bCounted) {
            return;
        }
        ticket.m_bCounted = false;
        --m_nTaken;
        --m_nTakenBy[Index(ticket.m_port)];
    }
    // The plain and the TLS acceptor may both be waiting: each must see the room.
    m_changed.notify_all();
}

void CConnectionSlots::Stop() {
    {
        const std::lock_guard lock(m_mutex);
        m_bStopped = true;
    }
    m_changed.notify_all();
}

std::size_t CConnectionSlots::Taken() {
    const std::lock_guard lock(m_mutex);
    return m_nTaken;
}

std::size_t CConnectionSlots::Waiting() {
    const std::lock_guard lock(m_mutex);
    std::size_t n = 0;
    for (const CTicket* ticket = m_pOldest; ticket != nullptr; ticket = ticket->m_pNext) {
        n += ticket->m_state == CTicket::EState::Waiting ? 1 : 0;
    }
    return n;
}
