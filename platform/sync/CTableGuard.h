// The reader-writer guard over the user, group and storage server tables and their records.
// The window thread holds it exclusively for every change; other threads (the credential
// service, login workers) hold it shared while they read, and exclusively while they change a
// storage server record. It is shared by pointer, so that a connection thread that is still
// running when the tables are freed can take it and find m_bTablesAlive false.
#pragma once

#include <memory>
#include <mutex>
#include <shared_mutex>

class CTableGuard {
public:
    std::shared_lock<std::shared_mutex> LockShared() const {
        return std::shared_lock<std::shared_mutex>(m_mutex);
    }
    std::unique_lock<std::shared_mutex> LockExclusive() const {
        return std::unique_lock<std::shared_mutex>(m_mutex);
    }

    // False once the tables have been freed; read and written under the lock.
    bool m_bTablesAlive = true;

private:
    mutable std::shared_mutex m_mutex;
};
