// Discovery passes and what they do to the server table and the System tab's list. A pass runs on
// a thread of its own (DiscoveryThreadProc): one SLP search for the storage servers' service type,
// which only collects the URLs, then one attribute query per URL (those of servers the table
// already knows first), at most 16 at a time, each server reported to the window thread with a
// sent call, the end of the pass with a posted one. A pass
// ends within 60 s whatever the network does: a query waits 3 s at most, none starts once the
// bound is near, and URLs beyond 20,000 are ignored; each of these is logged. On the window
// thread, OnServerFound files the server in the table and updates its row, and OnDiscoveryDone
// sweeps away the servers that did not answer. Passes never overlap (m_bDiscovering). A row that
// the sweep takes away, and a row of the same MAC that a later pass brings back, are told to the
// log and through a hook to the audit trail, a bounded number a pass.
//
// Qt-free: the console's System tab owns one and drives it from its timer and Refresh button;
// the headless front end does the same with its own loop. Everything here except the thread runs
// on the window thread.
#pragma once

#include "platform/sync/CTableGuard.h"
#include "platform/ui/IWindowThread.h"
#include "storage/CArrayPresence.h"
#include "storage/CServerTable.h"
#include "storage/CSlpFunctions.h"
#include "storage/IServerListView.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class CServerDiscovery {
public:
    static constexpr int kTimerId = 111;
    static constexpr int kPeriodMs = 30000;
    static constexpr std::size_t kMaxQueriesAtOnce = 16;

    struct CHooks {
        std::function<void(bool)> enableRefresh;     // the Refresh button's state
        std::function<void()> refreshAccountServers; // the Account tab's servers of its group
        // One line for the operator (a server skipped); written to standard error when empty.
        std::function<void(std::string_view)> logLine;
        // Another address (announcedAt) announcing the MAC of the array bound to bound: for the
        // audit trail.
        std::function<void(std::u16string_view mac, std::u16string_view bound,
                           std::string_view announcedAt)>
            addressConflict;
        // An array that left the list or came back to it: for the audit trail.
        std::function<void(const CArrayPresence&)> arrayPresence;
    };
    // Arrays of each kind (left, back) named in the log and to the hook in one pass; the rest
    // are counted in one line and one piece of news.
    static constexpr std::size_t kMaxPresenceNewsPerPass = 8;
    // MACs of rows that left, remembered so that their return is told; the oldest go first.
    static constexpr std::size_t kMaxRememberedLeft = 20000;
    // MAC addresses taken from one address in one pass; more are ignored (and logged once), so
    // that one host cannot put the whole fleet in conflict.
    static constexpr std::size_t kMaxMacsPerHost = 4;

    // The table is guarded by guard; list and hooks are used on the window thread only. window
    // carries the pass thread's reports; its owner closes it before this object goes, so that a
    // pass still running at shutdown reports to nobody. queriesAtOnce bounds the attribute
    // queries running at once (1 reports the servers in the order the search found them).
    CServerDiscovery(CServerTable& table, std::shared_ptr<CTableGuard> guard, IServerListView& list,
                     std::shared_ptr<IWindowThread> window, CHooks hooks,
                     CSlpFunctions slp = CSlpFunctions::Library(),
                     std::size_t queriesAtOnce = kMaxQueriesAtOnce);
    // A pass still running goes on without us; whatever it reports later is dropped.
    ~CServerDiscovery();
    CServerDiscovery(const CServerDiscovery&) = delete;
    CServerDiscovery& operator=(const CServerDiscovery&) = delete;

    // Tab initialisation: the first pass (no BeginPass; the table is empty).
    void StartFirstPass();
    // Timer 111: a new pass unless one is running.
    void OnTimer();
    // Refresh button: disables the button, then as a timer tick.
    void OnRefresh();

    // A server found: host is the service URL's host, attrList the server's attribute list. A
    // server whose host is not a plain IPv4 address is left out (logins and pushes are matched
    // against that address). A record stays bound to the address it was first seen at or last
    // logged in to: a sighting of its MAC at another address only puts it in conflict (logged
    // and audited once per address), never changes its address, attributes or authorization.
    void OnServerFound(std::string_view host, std::string_view attrList);
    // A line for the operator's log (the pass thread's too, through the window thread).
    void LogLine(std::string_view line) const;
    // The end of a pass: the sweep, claims aged, and one line for the servers the pass left out.
    void OnDiscoveryDone();

    bool IsDiscovering() const { return m_bDiscovering != 0; }
    // Runs fn at the end of the pass under way (at once when none runs); a pass that never ends
    // because this object goes drops it.
    void WhenPassEnds(std::function<void()> fn);
    // When the last pass ended; nothing before the first end.
    std::optional<std::chrono::system_clock::time_point> LastPassEnd() const {
        return m_lastPassEnd;
    }
    // Whether the thread of the last pass is still running (it may be inside the SLP library
    // even after its end was reported, or after the window closed).
    bool PassThreadRunning() const { return !m_pLastPass.expired(); }

private:
    // What a server's row shows, copied out of its record under the guard.
    struct CRowCells {
        std::u16string ip, systemName, product, version, mac;
        bool bAuthorized = false;
        EAddressState eState = EAddressState::Bound;
        std::u16string claims; // the other addresses, comma-separated
        CServerRowDetails details;
    };
    static CRowCells CellsOf(const CServerData& record);
    // Whether the pass takes this MAC from host (under kMaxMacsPerHost).
    bool CountMacOfHost(std::string_view host, const std::u16string& key);
    void ReportClaim(const std::u16string& key, const std::u16string& bound,
                     std::string_view other);
    // Whether it added the row (which was not in the list).
    bool ShowRow(const CRowCells& cells);
    void Sweep();
    void RememberLeft(const std::u16string& key);
    // Tells of one array, or counts it beyond the pass's bound.
    void ReportPresence(CArrayPresence news);
    // The line and the news counting what this pass did not name; the counts start over.
    void ReportPresenceBeyondBound();
    void StartPass();

    CServerTable& m_table;
    std::shared_ptr<CTableGuard> m_pGuard;
    IServerListView& m_list;
    std::shared_ptr<IWindowThread> m_pWindow;
    CHooks m_hooks;
    CSlpFunctions m_slp;
    std::size_t m_nQueriesAtOnce;
    int32_t m_bDiscovering = 0;
    // What the pass threads' reports call on the window thread; null once this object is gone.
    std::shared_ptr<CServerDiscovery*> m_pTarget;
    std::weak_ptr<const void> m_pLastPass; // the last pass thread's own state
    // Servers of this pass left out for their host, and the first such host.
    std::size_t m_nUnaddressed = 0;
    std::string m_strFirstUnaddressed;
    // This pass's MACs by announcing address, and the MACs ignored beyond kMaxMacsPerHost.
    std::unordered_map<std::string, std::unordered_set<std::u16string>> m_passMacsByHost;
    std::map<std::string, std::size_t> m_passIgnoredByHost;
    // MACs whose rows left the list, oldest first, and where each stands in that order.
    std::list<std::u16string> m_leftOrder;
    std::unordered_map<std::u16string, std::list<std::u16string>::iterator> m_leftMacs;
    // This pass's news by kind (left, back): how many were told, how many more only counted.
    std::array<std::size_t, 2> m_nPassTold{};
    std::array<std::size_t, 2> m_nPassBeyond{};
    std::vector<std::function<void()>> m_passEndWaiters;
    std::optional<std::chrono::system_clock::time_point> m_lastPassEnd;
};
