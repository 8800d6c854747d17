// A small pool of LDAP connections shared by the threads that sign users in: at most N open at
// once, reused while they work, a connection whose call failed is closed instead of returned, and
// a caller waits for one no longer than the timeout.
#pragma once

#include "platform/ldap/CLdapConnection.h"

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

class CLdapPool {
public:
    // A borrowed connection, given back when the lease ends (closed instead when marked failed).
    class CLease {
    public:
        CLease() = default;
        ~CLease();
        CLease(CLease&& other) noexcept;
        CLease& operator=(CLease&& other) noexcept;
        CLease(const CLease&) = delete;
        CLease& operator=(const CLease&) = delete;

        CLdapConnection* operator->() const { return m_connection.get(); }
        // Whether a connection was had; Result() tells why not.
        explicit operator bool() const { return m_connection != nullptr; }
        const SLdapResult& Result() const { return m_result; }
        // The connection is closed when the lease ends, not given back.
        void MarkFailed() { m_failed = true; }
        // Whether the connection served an earlier lease (and may since have been dropped by the
        // server), rather than being opened for this one.
        bool Reused() const { return m_reused; }

    private:
        friend class CLdapPool;
        void Release() noexcept;

        CLdapPool* m_pPool = nullptr;
        std::unique_ptr<CLdapConnection> m_connection;
        SLdapResult m_result;
        bool m_failed = false;
        bool m_reused = false;
    };

    // The pool must outlive every lease it hands out.
    CLdapPool(SLdapOptions options, std::size_t maxConnections);
    ~CLdapPool();
    CLdapPool(const CLdapPool&) = delete;
    CLdapPool& operator=(const CLdapPool&) = delete;

    // An open connection: an idle one, a new one while fewer than the maximum are out, or the
    // first given back within the timeout.
    CLease Borrow();

    const SLdapOptions& Options() const { return m_options; }
    std::size_t OpenCount() const;

private:
    void GiveBack(std::unique_ptr<CLdapConnection> connection, bool failed);

    SLdapOptions m_options;
    std::size_t m_nMax;
    mutable std::mutex m_mutex;
    std::condition_variable m_returned;
    std::vector<std::unique_ptr<CLdapConnection>> m_idle;
    std::size_t m_nOpen = 0; // idle and lent together
};

// Whether a connection that gave this outcome may serve the next caller.
bool LdapConnectionStaysUsable(ELdapOutcome outcome);
