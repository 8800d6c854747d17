// Connection threads that have served their connection and wait a short while to be reused:
// starting the next acceptor hands the role to one of them instead of creating a thread. There
// is still one acceptor at a time, the next one started after each accept; what goes away under
// load is the cost of creating and ending a thread per connection.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <semaphore>

class CServiceContext;

// The listening socket an acceptor chain takes its connections from.
enum class EListener { Plain, Tls };

// What a connection thread is handed: the run it serves and the listener it accepts on.
struct CAcceptorRole {
    std::shared_ptr<CServiceContext> pContext; // null: nothing to do
    EListener eListener = EListener::Plain;
};

class CIdleConnectionThreads {
public:
    static constexpr std::size_t kMaxIdle = 128;
    static constexpr std::chrono::milliseconds kIdleTime{2000};

    // Gives the acceptor role to an idle thread; false when none is waiting.
    bool HandOff(CAcceptorRole role);
    // Called by a thread that is done: waits up to kIdleTime for a hand-off and answers its
    // role, with a null context when the thread is to end.
    CAcceptorRole WaitForWork();

private:
    std::mutex m_mutex;
    std::size_t m_nIdle = 0;             // waiting and not yet handed anything
    std::deque<CAcceptorRole> m_pending; // handed off, not yet taken
    std::counting_semaphore<> m_ready{0};
};
