// The discovery pass thread with its SLP callbacks, and the window-thread handlers that file
// each sighting and sweep at the end of a pass.
#include "storage/CServerDiscovery.h"

#include "platform/text/Ipv4Literal.h"
#include "platform/text/TextConv.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace {

constexpr const char* kServiceType = "service:raid.004417";
constexpr const char* kScope = "default";
constexpr const char* kNoFilter = "";
constexpr const char* kAllAttributes = "";
constexpr std::size_t kUrlCapacity = 128;
constexpr std::size_t kMacCapacity = sizeof(CServerData::m_szMAC);
constexpr std::string_view kDefaultType = "SAN";

using Clock = std::chrono::steady_clock;
// A pass ends within kPassBound whatever the network does: no attribute query starts later than
// one query's budget before it. The budget is the SLP library's net.slp.unicastMaximumWait, of
// which discovery sets its own default.
constexpr std::chrono::seconds kPassBound{60};
constexpr std::chrono::seconds kQueryBudget{3};
constexpr std::size_t kMaxUrlsPerPass = 20000;

// Text from the network as it may appear in one log line: control characters become '?', so
// that an announcement cannot break the line or forge another.
std::string Printable(std::string_view text) {
    constexpr unsigned char kFirstPrintable = 0x20;
    constexpr unsigned char kDelete = 0x7F;
    std::string out(text);
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < kFirstPrintable || byte == kDelete) {
            c = '?';
        }
    }
    return out;
}

// What one pass thread holds. Everything is its own (copies and shared pointers): the thread may
// outlive the discovery object, the window and the tables, and nothing waits for it.
struct CPass {
    std::shared_ptr<IWindowThread> pWindow;
    CSlpFunctions slp;
    std::shared_ptr<CServerDiscovery*> pTarget;
    std::size_t nQueriesAtOnce;
    // The addresses of the servers in the table when the pass began: theirs are asked first, so
    // that a flood of new URLs cannot keep the known fleet from being asked within the bound.
    std::unordered_set<std::string> knownHosts;
};

// The URLs one search found, gathered while it runs: the receive loop is never held up by an
// attribute query, so replies still queued when it ends are all read.
struct CFoundUrls {
    std::vector<std::string> urls;
    std::size_t nIgnored = 0; // beyond kMaxUrlsPerPass
};

// One attribute query: the pass it belongs to, then the service URL.
struct AttrQueryContext {
    const CPass* pPass;
    const std::string* pUrl;
};

// Hands the found URLs to the attribute query workers, one at a time, until none is left or the
// last moment at which a query may still start has passed.
class CQueryQueue {
public:
    CQueryQueue(const std::vector<std::string>& urls, Clock::time_point lastStart)
        : m_urls(urls), m_lastStart(lastStart) {}

    const std::string* Take() {
        std::lock_guard lock(m_mutex);
        if (m_nNext == m_urls.size() || Clock::now() > m_lastStart) {
            return nullptr;
        }
        return &m_urls[m_nNext++];
    }
    std::size_t Left() {
        std::lock_guard lock(m_mutex);
        return m_urls.size() - m_nNext;
    }

private:
    std::mutex m_mutex;
    const std::vector<std::string>& m_urls;
    const Clock::time_point m_lastStart;
    std::size_t m_nNext = 0;
};

void PostDiscoveryDone(const CPass& pass) {
    pass.pWindow->Post([target = pass.pTarget] {
        if (*target != nullptr) {
            (*target)->OnDiscoveryDone();
        }
    });
}

void PostLogLine(const CPass& pass, std::string line) {
    pass.pWindow->Post([target = pass.pTarget, line = std::move(line)] {
        if (*target != nullptr) {
            (*target)->LogLine(line);
        }
    });
}

// Only the first attribute reply of a server is used.
SLPBoolean AttrCallback(SLPHandle, const char* pcAttrList, SLPError errCode, void* pvCookie) {
    if (errCode != SLP_OK) {
        return SLP_FALSE;
    }
    auto& context = *static_cast<AttrQueryContext*>(pvCookie);
    const CPass& pass = *context.pPass;
    SLPSrvURL* parsed = nullptr;
    if (pass.slp.parseSrvURL(context.pUrl->c_str(), &parsed) == SLP_OK && parsed != nullptr) {
        const std::string_view host = parsed->s_pcHost != nullptr ? parsed->s_pcHost : "";
        const std::string_view attrs = pcAttrList != nullptr ? pcAttrList : "";
        // Sent: host and attrs stay valid while the window thread files the server.
        pass.pWindow->Send([target = pass.pTarget, host, attrs] {
            if (*target != nullptr) {
                (*target)->OnServerFound(host, attrs);
            }
        });
        pass.slp.free(parsed);
    }
    return SLP_FALSE;
}

SLPBoolean SrvUrlCallback(SLPHandle, const char* pcSrvURL, unsigned short, SLPError errCode,
                          void* pvCookie) {
    if (errCode != SLP_OK || pcSrvURL == nullptr) {
        return SLP_TRUE;
    }
    auto& found = *static_cast<CFoundUrls*>(pvCookie);
    const std::string_view url = pcSrvURL;
    if (url.size() >= kUrlCapacity) {
        return SLP_TRUE; // longer than any server's URL: that server sits this pass out
    }
    if (found.urls.size() == kMaxUrlsPerPass) {
        ++found.nIgnored;
        return SLP_TRUE;
    }
    found.urls.emplace_back(url);
    return SLP_TRUE;
}

// One worker: its own handle (a handle runs one operation at a time), the queue's URLs one after
// another.
void RunQueries(const CPass& pass, CQueryQueue& queue) {
    SLPHandle handle = nullptr;
    if (queue.Left() == 0 || pass.slp.open(nullptr, SLP_FALSE, &handle) != SLP_OK) {
        return;
    }
    while (const std::string* url = queue.Take()) {
        AttrQueryContext context{&pass, url};
        pass.slp.findAttrs(handle, url->c_str(), kScope, kAllAttributes, AttrCallback, &context);
    }
    pass.slp.close(handle);
}

// The attribute queries of one pass, nQueriesAtOnce at a time; none starts after lastStart.
void QueryAll(const CPass& pass, const std::vector<std::string>& urls,
              Clock::time_point lastStart) {
    CQueryQueue queue(urls, lastStart);
    std::vector<std::thread> workers;
    const std::size_t wanted = std::min(urls.size(), pass.nQueriesAtOnce);
    for (std::size_t i = 0; i < wanted; ++i) {
        try {
            workers.emplace_back(RunQueries, std::cref(pass), std::ref(queue));
        } catch (const std::system_error&) {
            break; // the workers there are share the queue
        }
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    // What workers left behind (no thread, or no handle of their own) is asked here.
    RunQueries(pass, queue);
    if (const std::size_t left = queue.Left(); left > 0) {
        const std::string reason =
            Clock::now() > lastStart
                ? "the pass reached its bound of " + std::to_string(kPassBound.count()) + " s"
                : std::string("no SLP handle could be opened");
        PostLogLine(pass, "discovery did not ask " + std::to_string(left) + " of " +
                              std::to_string(urls.size()) +
                              " servers for their attributes: " + reason);
    }
}

// The URLs whose host the table knows, first; otherwise in the order they were found.
void KnownHostsFirst(const CPass& pass, std::vector<std::string>& urls) {
    if (pass.knownHosts.empty()) {
        return;
    }
    std::stable_partition(urls.begin(), urls.end(), [&pass](const std::string& url) {
        SLPSrvURL* parsed = nullptr;
        bool known = false;
        if (pass.slp.parseSrvURL(url.c_str(), &parsed) == SLP_OK && parsed != nullptr) {
            known = parsed->s_pcHost != nullptr && pass.knownHosts.contains(parsed->s_pcHost);
            pass.slp.free(parsed);
        }
        return known;
    });
}

// The search handle stays open until the queries are done: its close is where the pass leaves
// the SLP library.
void DiscoveryThreadProc(std::shared_ptr<CPass> pass) {
    const Clock::time_point start = Clock::now();
    SLPHandle handle = nullptr;
    if (pass->slp.open(nullptr, SLP_FALSE, &handle) == SLP_OK) {
        CFoundUrls found;
        pass->slp.findSrvs(handle, kServiceType, kScope, kNoFilter, SrvUrlCallback, &found);
        if (found.nIgnored > 0) {
            PostLogLine(*pass, "discovery ignores " + std::to_string(found.nIgnored) +
                                   " service URLs beyond the first " +
                                   std::to_string(kMaxUrlsPerPass) + " of this pass");
        }
        KnownHostsFirst(*pass, found.urls);
        QueryAll(*pass, found.urls, start + kPassBound - kQueryBudget);
        pass->slp.close(handle);
    }
    PostDiscoveryDone(*pass);
}

// The announced attributes that discovery keeps, absent ones empty-handed.
struct CAttributes {
    std::optional<std::string> mac, hostname, vendor, type, model, product, version;
};

std::optional<std::string> Attribute(const CSlpFunctions& slp, const std::string& list,
                                     const char* tag) {
    char* value = nullptr;
    if (slp.parseAttrs(list.c_str(), tag, &value) != SLP_OK || value == nullptr) {
        return std::nullopt;
    }
    std::string text = value;
    slp.free(value);
    return text;
}

CAttributes ReadAttributes(const CSlpFunctions& slp, std::string_view attrList) {
    const std::string list(attrList); // the parser wants it zero-terminated
    return {Attribute(slp, list, "mac"),    Attribute(slp, list, "hostname"),
            Attribute(slp, list, "vendor"), Attribute(slp, list, "type"),
            Attribute(slp, list, "model"),  Attribute(slp, list, "product"),
            Attribute(slp, list, "version")};
}

void StoreSighting(CServerData& record, std::string_view host, const CAttributes& attrs) {
    record.m_lastSeen = std::chrono::system_clock::now();
    record.SetIPAddr(host);
    if (attrs.hostname) {
        record.SetSystemName(*attrs.hostname);
    }
    if (attrs.vendor) {
        record.SetVendor(*attrs.vendor);
    }
    record.SetType(attrs.type.value_or(std::string(kDefaultType)));
    record.SetModel(attrs.model.value_or(""));
    if (attrs.product) {
        record.SetProduct(*attrs.product);
    }
    if (attrs.version) {
        record.SetVersion(*attrs.version);
    }
    if (attrs.mac) {
        record.SetMAC(*attrs.mac);
    }
    record.RenderElement();
}

// A sighting at the record's own address; answers whether it changed what the credential
// service hands out (the record's element, address or MAC, or its being online). Most sightings
// of a pass find an array as it stands, and those leave cached answers valid.
bool RefreshSighting(CServerData& record, std::string_view host, const CAttributes& attrs) {
    const bool bWasOnline = record.m_bOnline != 0;
    std::string element = record.Element();
    const std::string ip = record.m_szIPAddr;
    const std::string mac = record.m_szMAC;
    record.m_bSeen = 1;
    record.m_bOnline = 1;
    StoreSighting(record, host, attrs);
    const bool bChanged = !bWasOnline || record.Element() != element || ip != record.m_szIPAddr ||
                          mac != record.m_szMAC;
    // The element holds the administrator password: the copy does not outlive it in freed memory.
    ::explicit_bzero(element.data(), element.size());
    return bChanged;
}

} // namespace

CServerDiscovery::CRowCells CServerDiscovery::CellsOf(const CServerData& record) {
    CRowCells cells{Utf8ToUtf16(record.m_szIPAddr),
                    Utf8ToUtf16(record.m_szSystemName),
                    Utf8ToUtf16(record.m_szProduct),
                    Utf8ToUtf16(record.m_szVersion),
                    Utf8ToUtf16(record.m_szMAC),
                    record.m_bAuthorized != 0,
                    record.AddressState(),
                    {},
                    {Utf8ToUtf16(record.m_szVendor), Utf8ToUtf16(record.m_szModel),
                     Utf8ToUtf16(record.m_szType), record.m_lastSeen}};
    for (const CAddressClaim& claim : record.m_listClaims) {
        cells.claims += (cells.claims.empty() ? u"" : u", ") + Utf8ToUtf16(claim.strAddress);
    }
    return cells;
}

CServerDiscovery::CServerDiscovery(CServerTable& table, std::shared_ptr<CTableGuard> guard,
                                   IServerListView& list, std::shared_ptr<IWindowThread> window,
                                   CHooks hooks, CSlpFunctions slp, std::size_t queriesAtOnce)
    : m_table(table), m_pGuard(std::move(guard)), m_list(list), m_pWindow(std::move(window)),
      m_hooks(std::move(hooks)), m_slp(slp),
      m_nQueriesAtOnce(std::max<std::size_t>(queriesAtOnce, 1)),
      m_pTarget(std::make_shared<CServerDiscovery*>(this)) {
    // Directory agents are believed only when the operator names them (net.slp.DAAddresses) or
    // turns active discovery back on in the SLP settings: any host can answer discovery. For the
    // same reason an array's attributes come from those agents or from the host its URL names,
    // never from whoever answers a multicast.
    if (m_slp.setPropertyDefault != nullptr) {
        m_slp.setPropertyDefault("net.slp.activeDADetection", "false");
        m_slp.setPropertyDefault("orvane.slp.attributesFromUrlHost", "true");
        const std::string budgetMs =
            std::to_string(std::chrono::milliseconds(kQueryBudget).count());
        m_slp.setPropertyDefault("net.slp.unicastMaximumWait", budgetMs.c_str());
    }
}

CServerDiscovery::~CServerDiscovery() {
    *m_pTarget = nullptr;
}

void CServerDiscovery::StartFirstPass() {
    m_bDiscovering = 1;
    StartPass();
}

void CServerDiscovery::OnTimer() {
    if (m_bDiscovering != 0) {
        return;
    }
    m_bDiscovering = 1;
    {
        auto lock = m_pGuard->LockExclusive();
        if (m_pGuard->m_bTablesAlive) {
            m_table.BeginPass();
        }
    }
    StartPass();
}

void CServerDiscovery::OnRefresh() {
    if (m_hooks.enableRefresh) {
        m_hooks.enableRefresh(false);
    }
    OnTimer();
}

void CServerDiscovery::StartPass() {
    std::unordered_set<std::string> knownHosts;
    {
        auto lock = m_pGuard->LockShared();
        if (m_pGuard->m_bTablesAlive) {
            m_table.ForEach([&knownHosts](const std::u16string&, const CServerData& record) {
                knownHosts.emplace(record.m_szIPAddr);
            });
        }
    }
    const auto pass = std::make_shared<CPass>(
        CPass{m_pWindow, m_slp, m_pTarget, m_nQueriesAtOnce, std::move(knownHosts)});
    m_pLastPass = pass;
    try {
        std::thread(DiscoveryThreadProc, pass).detach();
    } catch (const std::system_error&) {
        // No thread, no sightings: the pass ends at once, as when the library cannot be opened.
        PostDiscoveryDone(*pass);
    }
}

void CServerDiscovery::LogLine(std::string_view line) const {
    if (m_hooks.logLine) {
        m_hooks.logLine(line);
        return;
    }
    std::string text = "OrvaneSrv: " + std::string(line) + "\n";
    ssize_t written;
    do {
        written = ::write(STDERR_FILENO, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
}

void CServerDiscovery::OnServerFound(std::string_view host, std::string_view attrList) {
    if (!IsIpv4Literal(host)) {
        if (m_nUnaddressed++ == 0) {
            m_strFirstUnaddressed = Printable(host);
        }
        return;
    }
    const CAttributes attrs = ReadAttributes(m_slp, attrList);
    // The key must equal the record's MAC field, so a MAC text is never cut to fit it.
    if (attrs.mac && attrs.mac->size() >= kMacCapacity) {
        LogLine("discovery skips the server at " + Printable(host) + ": its MAC address \"" +
                Printable(*attrs.mac) + "\" is longer than " + std::to_string(kMacCapacity - 1) +
                " bytes");
        return;
    }
    const std::u16string key = Utf8ToUtf16(attrs.mac.value_or(""));
    if (!CountMacOfHost(host, key)) {
        return;
    }
    CRowCells cells;
    bool bNewClaim = false;
    {
        CTableGuard::CChangeHold hold(*m_pGuard);
        if (!m_pGuard->m_bTablesAlive) {
            return;
        }
        CServerData* record = m_table.Find(key);
        if (record == nullptr) {
            auto created = std::make_unique<CServerData>();
            record = created.get();
            m_table.Add(key, std::move(created));
            StoreSighting(*record, host, attrs);
            hold.MarkChanged();
        } else if (host == record->m_szIPAddr || key.empty()) {
            // Servers that announce no MAC share one record that can never be logged in to:
            // it follows the last of them, as it always did.
            if (RefreshSighting(*record, host, attrs)) {
                hold.MarkChanged();
            }
        } else {
            bNewClaim = record->NoteClaim(host, std::chrono::system_clock::now());
            hold.MarkChanged();
        }
        cells = CellsOf(*record);
    }
    if (bNewClaim) {
        ReportClaim(key, cells.ip, host);
    }
    if (ShowRow(cells)) {
        if (const auto left = m_leftMacs.find(key); left != m_leftMacs.end()) {
            m_leftOrder.erase(left->second);
            m_leftMacs.erase(left);
            ReportPresence({EArrayPresence::Back, key, cells.ip, cells.systemName, 0});
        }
    }
}

bool CServerDiscovery::CountMacOfHost(std::string_view host, const std::u16string& key) {
    if (key.empty()) {
        return true;
    }
    auto& macs = m_passMacsByHost[std::string(host)];
    if (macs.contains(key)) {
        return true;
    }
    if (macs.size() == kMaxMacsPerHost) {
        ++m_passIgnoredByHost[std::string(host)];
        return false;
    }
    macs.insert(key);
    return true;
}

void CServerDiscovery::ReportClaim(const std::u16string& key, const std::u16string& bound,
                                   std::string_view other) {
    const std::string mac = Printable(Utf16ToUtf8(key));
    const std::string boundText = Utf16ToUtf8(bound);
    LogLine("the array with MAC address " + mac + " at " + boundText + " is also announced at " +
            std::string(other) + ": logins and the service keep to " + boundText +
            " until the operator logs in to it at another address");
    if (m_hooks.addressConflict) {
        m_hooks.addressConflict(key, bound, other);
    }
}

bool CServerDiscovery::ShowRow(const CRowCells& cells) {
    std::size_t row = m_list.FindRow(EServerColumn::MAC, cells.mac);
    // A login under way (queued or running) reports to its row: until then the Auth cell keeps
    // saying so.
    bool bLoginUnderWay = false;
    bool bAdded = false;
    if (row != IServerListView::npos) {
        bLoginUnderWay = m_list.CellText(row, EServerColumn::Auth) == LoadString(IDS_LOGGING) &&
                         m_list.CellText(row, EServerColumn::IPAddr) == cells.ip;
        m_list.SetCellText(row, EServerColumn::IPAddr, cells.ip);
    } else {
        bAdded = true;
        const bool wasEmpty = m_list.RowCount() == 0;
        row = m_list.AppendRow(cells.ip);
        if (wasEmpty) {
            m_list.SelectAndFocus(row);
        }
    }
    // From the record, which only a sighting at its own address changes.
    m_list.SetCellText(row, EServerColumn::SystemName, cells.systemName);
    m_list.SetCellText(row, EServerColumn::Product, cells.product);
    m_list.SetCellText(row, EServerColumn::Version, cells.version);
    m_list.SetCellText(row, EServerColumn::MAC, cells.mac);
    if (!bLoginUnderWay) {
        m_list.SetCellText(row, EServerColumn::Auth,
                           LoadString(cells.bAuthorized ? IDS_YES : IDS_NO));
    }
    m_list.ShowAddressState(row, cells.eState, cells.claims);
    m_list.ShowDetails(row, cells.details);
    return bAdded;
}

void CServerDiscovery::RememberLeft(const std::u16string& key) {
    if (m_leftMacs.contains(key)) {
        return;
    }
    if (m_leftMacs.size() == kMaxRememberedLeft) {
        m_leftMacs.erase(m_leftOrder.front());
        m_leftOrder.pop_front();
    }
    m_leftMacs.emplace(key, m_leftOrder.insert(m_leftOrder.end(), key));
}

void CServerDiscovery::ReportPresence(CArrayPresence news) {
    const auto kind = static_cast<std::size_t>(news.eKind);
    if (m_nPassTold[kind] == kMaxPresenceNewsPerPass) {
        ++m_nPassBeyond[kind];
        return;
    }
    ++m_nPassTold[kind];
    const std::string mac =
        news.mac.empty() ? std::string("(none)") : Printable(Utf16ToUtf8(news.mac));
    const std::string where = "the array with MAC address " + mac + " (system name \"" +
                              Printable(Utf16ToUtf8(news.systemName)) + "\") at " +
                              Printable(Utf16ToUtf8(news.ip));
    LogLine(news.eKind == EArrayPresence::Left
                ? where + " left the System list: it did not answer this discovery pass"
                : where + " is back in the System list");
    if (m_hooks.arrayPresence) {
        m_hooks.arrayPresence(news);
    }
}

void CServerDiscovery::ReportPresenceBeyondBound() {
    for (const EArrayPresence kind : {EArrayPresence::Back, EArrayPresence::Left}) {
        const auto index = static_cast<std::size_t>(kind);
        if (const std::size_t more = m_nPassBeyond[index]; more > 0) {
            LogLine("... and " + std::to_string(more) +
                    (more == 1 ? " more array " : " more arrays ") +
                    (kind == EArrayPresence::Left ? "left the System list"
                                                  : "came back to the System list") +
                    " in this discovery pass");
            if (m_hooks.arrayPresence) {
                m_hooks.arrayPresence({kind, {}, {}, {}, more});
            }
        }
        m_nPassTold[index] = 0;
        m_nPassBeyond[index] = 0;
    }
}

void CServerDiscovery::OnDiscoveryDone() {
    if (m_nUnaddressed != 0) {
        LogLine("discovery leaves out " + std::to_string(m_nUnaddressed) +
                (m_nUnaddressed == 1 ? " server" : " servers") +
                " whose service URL names no IPv4 address, such as \"" + m_strFirstUnaddressed +
                "\"");
        m_nUnaddressed = 0;
        m_strFirstUnaddressed.clear();
    }
    for (const auto& [host, ignored] : m_passIgnoredByHost) {
        LogLine("discovery ignores " + std::to_string(ignored) + " MAC addresses announced from " +
                host + " beyond its first " + std::to_string(kMaxMacsPerHost) + " of this pass");
    }
    m_passIgnoredByHost.clear();
    m_passMacsByHost.clear();
    Sweep();
    ReportPresenceBeyondBound();
    if (m_hooks.enableRefresh) {
        m_hooks.enableRefresh(true);
    }
    if (m_hooks.refreshAccountServers) {
        m_hooks.refreshAccountServers();
    }
    m_bDiscovering = 0;
    m_lastPassEnd = std::chrono::system_clock::now();
    // Taken first: a waiter may start the next pass and wait for that one's end.
    std::vector<std::function<void()>> waiters = std::move(m_passEndWaiters);
    m_passEndWaiters.clear();
    for (const auto& waiter : waiters) {
        waiter();
    }
}

void CServerDiscovery::Sweep() {
    const std::size_t count = m_list.RowCount();
    std::vector<std::u16string> keys;
    keys.reserve(count);
    for (std::size_t row = 0; row < count; ++row) {
        keys.push_back(m_list.CellText(row, EServerColumn::MAC));
    }
    std::vector<std::size_t> gone;
    std::vector<CArrayPresence> left;
    std::vector<std::pair<std::size_t, CRowCells>> kept; // with where their records now stand
    {
        auto lock = m_pGuard->LockExclusive();
        if (!m_pGuard->m_bTablesAlive) {
            return;
        }
        for (std::size_t row = 0; row < count; ++row) {
            CServerData* record = m_table.Find(keys[row]);
            if (record == nullptr || record->m_bSeen != 0) {
                continue;
            }
            // An array whose own address no longer answers is not served, even while another
            // address announces its MAC; its row stays while one does.
            record->m_bOnline = 0;
            if (!record->m_bSeenElsewhere) {
                gone.push_back(row);
                left.push_back({EArrayPresence::Left, keys[row], Utf8ToUtf16(record->m_szIPAddr),
                                Utf8ToUtf16(record->m_szSystemName), 0});
                if (record->m_bAuthorized == 0) {
                    m_table.Remove(keys[row]); // an authorized one keeps its credentials
                }
            }
        }
        m_table.ForEach([](const std::u16string&, CServerData& record) { record.AgeClaims(); });
        std::size_t next = 0;
        for (std::size_t row = 0; row < count; ++row) {
            if (next < gone.size() && gone[next] == row) {
                ++next;
            } else if (const CServerData* record = m_table.Find(keys[row])) {
                kept.emplace_back(row, CellsOf(*record));
            }
        }
    }
    for (const auto& [row, cells] : kept) {
        m_list.ShowAddressState(row, cells.eState, cells.claims);
    }
    if (!gone.empty()) {
        m_list.DeleteRows(gone);
    }
    for (CArrayPresence& news : left) {
        RememberLeft(news.mac);
        ReportPresence(std::move(news));
    }
}

void CServerDiscovery::WhenPassEnds(std::function<void()> fn) {
    if (m_bDiscovering == 0) {
        fn();
        return;
    }
    m_passEndWaiters.push_back(std::move(fn));
}
