// The way into the tables for code outside core and storage: a function run under the shared
// guard with a CTablesView, or a change of storage server records under the exclusive guard. It
// holds the guard by shared pointer, so a copy kept by a thread that outlives the core (a
// connection thread still serving at shutdown) takes the guard, finds the tables gone, and never
// touches the core again. Only COrvaneSrvCore makes one.
#pragma once

#include "core/CTablesView.h"
#include "platform/sync/CTableGuard.h"

#include <functional>
#include <memory>
#include <utility>

class COrvaneSrvCore;

class CTablesAccess {
public:
    // Runs f(const CTablesView&) under the shared guard and answers what f answers. f runs even
    // when the tables are gone (the view says so, and shows them empty).
    template <class F>
    decltype(auto) Read(F&& f) const {
        auto lock = m_pGuard->LockShared();
        return std::invoke(std::forward<F>(f), ViewUnderGuard());
    }
    // Runs f(CServerTable&) under the exclusive guard, which moves the generation; answers
    // false, without running f, once the tables are gone.
    template <class F>
    bool ChangeServers(F&& f) const {
        auto lock = m_pGuard->LockExclusive();
        if (!m_pGuard->m_bTablesAlive) {
            return false;
        }
        std::invoke(std::forward<F>(f), *m_pServers);
        return true;
    }

private:
    friend class COrvaneSrvCore;
    CTablesAccess(std::shared_ptr<CTableGuard> guard, CServerTable& servers,
                  const CUserTable& users, const CGroupTable& groups)
        : m_pGuard(std::move(guard)), m_pServers(&servers), m_pUsers(&users), m_pGroups(&groups) {}

    CTablesView ViewUnderGuard() const {
        if (!m_pGuard->m_bTablesAlive) {
            static const CServerTable kNoServers;
            static const CUserTable kNoUsers;
            static const CGroupTable kNoGroups;
            return {kNoServers, kNoUsers, kNoGroups, m_pGuard->Generation(), false};
        }
        return {*m_pServers, *m_pUsers, *m_pGroups, m_pGuard->Generation(), true};
    }

    std::shared_ptr<CTableGuard> m_pGuard;
    CServerTable* m_pServers;
    const CUserTable* m_pUsers;
    const CGroupTable* m_pGroups;
};
