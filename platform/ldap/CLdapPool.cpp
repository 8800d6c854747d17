// The bounded connection pool; see CLdapPool.h.
#include "platform/ldap/CLdapPool.h"

#include <utility>

bool LdapConnectionStaysUsable(ELdapOutcome outcome) {
    // The directory's own "no" leaves the connection sound; anything else may have broken it.
    return outcome == ELdapOutcome::Ok || outcome == ELdapOutcome::InvalidCredentials ||
           outcome == ELdapOutcome::NoSuchUser;
}

CLdapPool::CLease::~CLease() {
    Release();
}

CLdapPool::CLease::CLease(CLease&& other) noexcept
    : m_pPool(std::exchange(other.m_pPool, nullptr)), m_connection(std::move(other.m_connection)),
      m_result(std::move(other.m_result)), m_failed(other.m_failed), m_reused(other.m_reused) {}

CLdapPool::CLease& CLdapPool::CLease::operator=(CLease&& other) noexcept {
    if (this != &other) {
        Release();
        m_pPool = std::exchange(other.m_pPool, nullptr);
        m_connection = std::move(other.m_connection);
        m_result = std::move(other.m_result);
        m_failed = other.m_failed;
        m_reused = other.m_reused;
    }
    return *this;
}

void CLdapPool::CLease::Release() noexcept {
    if (m_pPool != nullptr && m_connection) {
        m_pPool->GiveBack(std::move(m_connection), m_failed);
    }
    m_pPool = nullptr;
}

CLdapPool::CLdapPool(SLdapOptions options, std::size_t maxConnections)
    : m_options(std::move(options)), m_nMax(maxConnections == 0 ? 1 : maxConnections) {}

CLdapPool::~CLdapPool() = default;

std::size_t CLdapPool::OpenCount() const {
    const std::lock_guard lock(m_mutex);
    return m_nOpen;
}

CLdapPool::CLease CLdapPool::Borrow() {
    CLease lease;
    std::unique_lock lock(m_mutex);
    const auto deadline = std::chrono::steady_clock::now() + m_options.timeout;
    const bool had = m_returned.wait_until(lock, deadline,
                                           [this] { return !m_idle.empty() || m_nOpen < m_nMax; });
    if (!had) {
        lease.m_result = {ELdapOutcome::Busy, "every LDAP connection stayed busy"};
        return lease;
    }
    if (!m_idle.empty()) {
        lease.m_connection = std::move(m_idle.back());
        m_idle.pop_back();
        lease.m_pPool = this;
        lease.m_reused = true;
        return lease;
    }
    ++m_nOpen;
    lock.unlock();
    // Connecting takes up to the timeout: not under the lock, so that returns go on meanwhile.
    auto connection = std::make_unique<CLdapConnection>(m_options);
    lease.m_result = connection->Open();
    if (!lease.m_result.Ok()) {
        GiveBack(std::move(connection), true);
        return lease;
    }
    lease.m_connection = std::move(connection);
    lease.m_pPool = this;
    return lease;
}

void CLdapPool::GiveBack(std::unique_ptr<CLdapConnection> connection, bool failed) {
    if (failed) {
        connection.reset(); // closed outside the lock
    }
    {
        const std::lock_guard lock(m_mutex);
        if (connection) {
            m_idle.push_back(std::move(connection));
        } else {
            --m_nOpen;
        }
    }
    m_returned.notify_one();
}
