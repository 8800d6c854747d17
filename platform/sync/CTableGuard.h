// The reader-writer guard over the user, group and storage server tables and their records.
// The window thread holds it exclusively for every change; other threads (the credential
// service, login workers) hold it shared while they read, and exclusively while they change a
// storage server record. It is shared by pointer, so that a connection thread that is still
// running when the tables are freed can take it and find m_bTablesAlive false.
//
// Every exclusive hold counts one generation up as it begins: a reader that saw the same
// generation under the shared guard saw the same tables, so whatever it derived from them then
// may be reused as long as the generation has not moved.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>

class CTableGuard {
public:
    std::shared_lock<std::shared_mutex> LockShared() const {
        return std::shared_lock<std::shared_mutex>(m_mutex);
    }
    std::unique_lock<std::shared_mutex> LockExclusive() const {
        std::unique_lock<std::shared_mutex> lock(m_mutex);
        // Counted while held: no reader can see the tables between the count and the change.
        m_nGeneration.fetch_add(1, std::memory_order_relaxed);
        return lock;
    }
    // Meaningful only under the guard (shared or exclusive).
    uint64_t Generation() const { return m_nGeneration.load(std::memory_order_relaxed); }

    // An exclusive hold for a change that may turn out to leave every answer as it was (a
    // discovery pass seeing an array exactly as it stands): the generation moves only when the
    // holder says it changed something, and still before any reader can see the tables again.
    class CChangeHold {
    public:
        explicit CChangeHold(const CTableGuard& guard) : m_guard(guard), m_lock(guard.m_mutex) {}
        ~CChangeHold() {
            if (m_bChanged) {
                m_guard.m_nGeneration.fetch_add(1, std::memory_order_relaxed);
            }
        }
        CChangeHold(const CChangeHold&) = delete;
        CChangeHold& operator=(const CChangeHold&) = delete;
        void MarkChanged() { m_bChanged = true; }

    private:
        const CTableGuard& m_guard;
        std::unique_lock<std::shared_mutex> m_lock; // released after the count, as a member
        bool m_bChanged = false;
    };

    // False once the tables have been freed; read and written under the lock.
    bool m_bTablesAlive = true;

private:
    mutable std::shared_mutex m_mutex;
    mutable std::atomic<uint64_t> m_nGeneration{0};
};
