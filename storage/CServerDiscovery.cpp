// The discovery pass thread with its SLP callbacks, and the window-thread handlers that file
// each sighting and sweep at the end of a pass.
#include "storage/CServerDiscovery.h"

#include "platform/text/TextConv.h"

#include <cerrno>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kServiceType = "service:raid.004417";
constexpr const char* kScope = "default";
constexpr const char* kNoFilter = "";
constexpr const char* kAllAttributes = "";
constexpr std::size_t kUrlCapacity = 128;
constexpr std::size_t kMacCapacity = sizeof(CServerData::m_szMAC);
constexpr std::u16string_view kYes = u"Yes";
constexpr std::u16string_view kLogging = u"Logging"; // set by the System tab at a Login press
constexpr std::u16string_view kNo = u"No";
constexpr std::string_view kDefaultType = "SAN";

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
};

// One attribute query: the pass it belongs to, then the service URL.
struct AttrQueryContext {
    CPass* pPass;
    char szURL[kUrlCapacity];
};

void PostDiscoveryDone(const CPass& pass) {
    pass.pWindow->Post([target = pass.pTarget] {
        if (*target != nullptr) {
            (*target)->OnDiscoveryDone();
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
    if (pass.slp.parseSrvURL(context.szURL, &parsed) == SLP_OK && parsed != nullptr) {
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
    auto* pass = static_cast<CPass*>(pvCookie);
    const std::string_view url = pcSrvURL;
    if (url.size() >= kUrlCapacity) {
        return SLP_TRUE; // does not fit the query's context: that server sits this pass out
    }
    // The first handle is busy with the running search.
    SLPHandle attrHandle = nullptr;
    if (pass->slp.open(nullptr, SLP_FALSE, &attrHandle) != SLP_OK) {
        return SLP_TRUE;
    }
    auto context = std::make_unique<AttrQueryContext>();
    context->pPass = pass;
    url.copy(context->szURL, url.size());
    context->szURL[url.size()] = '\0';
    pass->slp.findAttrs(attrHandle, context->szURL, kScope, kAllAttributes, AttrCallback,
                        context.get());
    context.reset();
    pass->slp.close(attrHandle);
    return SLP_TRUE;
}

void DiscoveryThreadProc(std::shared_ptr<CPass> pass) {
    SLPHandle handle = nullptr;
    if (pass->slp.open(nullptr, SLP_FALSE, &handle) == SLP_OK) {
        pass->slp.findSrvs(handle, kServiceType, kScope, kNoFilter, SrvUrlCallback, pass.get());
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

// What the server's row shows, copied out of its record under the guard.
struct CRowCells {
    std::u16string ip, systemName, product, version, mac;
    bool bAuthorized = false;
};

void StoreSighting(CServerData& record, std::string_view host, const CAttributes& attrs) {
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
}

} // namespace

CServerDiscovery::CServerDiscovery(CServerTable& table, std::shared_ptr<CTableGuard> guard,
                                   IServerListView& list, std::shared_ptr<IWindowThread> window,
                                   CHooks hooks, CSlpFunctions slp)
    : m_table(table), m_pGuard(std::move(guard)), m_list(list), m_pWindow(std::move(window)),
      m_hooks(std::move(hooks)), m_slp(slp), m_pTarget(std::make_shared<CServerDiscovery*>(this)) {}

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
    const auto pass = std::make_shared<CPass>(CPass{m_pWindow, m_slp, m_pTarget});
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
    const CAttributes attrs = ReadAttributes(m_slp, attrList);
    // The key must equal the record's MAC field, so a MAC text is never cut to fit it.
    if (attrs.mac && attrs.mac->size() >= kMacCapacity) {
        LogLine("discovery skips the server at " + Printable(host) + ": its MAC address \"" +
                Printable(*attrs.mac) + "\" is longer than " + std::to_string(kMacCapacity - 1) +
                " bytes");
        return;
    }
    const std::u16string key = Utf8ToUtf16(attrs.mac.value_or(""));
    CRowCells cells;
    {
        auto lock = m_pGuard->LockExclusive();
        if (!m_pGuard->m_bTablesAlive) {
            return;
        }
        CServerData* record = m_table.Find(key);
        if (record != nullptr) {
            record->m_bSeen = 1;
            record->m_bOnline = 1;
        } else {
            auto created = std::make_unique<CServerData>();
            record = created.get();
            m_table.Add(key, std::move(created));
        }
        StoreSighting(*record, host, attrs);
        cells = {Utf8ToUtf16(record->m_szIPAddr),  Utf8ToUtf16(record->m_szSystemName),
                 Utf8ToUtf16(record->m_szProduct), Utf8ToUtf16(record->m_szVersion),
                 Utf8ToUtf16(record->m_szMAC),     record->m_bAuthorized != 0};
    }
    std::size_t row = m_list.FindRow(EServerColumn::MAC, key);
    // A login under way (queued or running) reports to the row of its address: until then the
    // Auth cell keeps saying so, unless this sighting moves the row to another address.
    bool bLoginUnderWay = false;
    if (row != IServerListView::npos) {
        bLoginUnderWay = m_list.CellText(row, EServerColumn::Auth) == kLogging &&
                         m_list.CellText(row, EServerColumn::IPAddr) == cells.ip;
        m_list.SetCellText(row, EServerColumn::IPAddr, cells.ip);
    } else {
        const bool wasEmpty = m_list.RowCount() == 0;
        row = m_list.AppendRow(cells.ip);
        if (wasEmpty) {
            m_list.SelectAndFocus(row);
        }
    }
    if (attrs.hostname) {
        m_list.SetCellText(row, EServerColumn::SystemName, cells.systemName);
    }
    if (attrs.product) {
        m_list.SetCellText(row, EServerColumn::Product, cells.product);
    }
    if (attrs.version) {
        m_list.SetCellText(row, EServerColumn::Version, cells.version);
    }
    if (attrs.mac) {
        m_list.SetCellText(row, EServerColumn::MAC, cells.mac);
    }
    if (!bLoginUnderWay) {
        m_list.SetCellText(row, EServerColumn::Auth, cells.bAuthorized ? kYes : kNo);
    }
}

void CServerDiscovery::OnDiscoveryDone() {
    const std::size_t count = m_list.RowCount();
    std::vector<std::u16string> keys;
    keys.reserve(count);
    for (std::size_t row = 0; row < count; ++row) {
        keys.push_back(m_list.CellText(row, EServerColumn::MAC));
    }
    std::vector<std::size_t> gone;
    {
        auto lock = m_pGuard->LockExclusive();
        for (std::size_t row = 0; m_pGuard->m_bTablesAlive && row < count; ++row) {
            CServerData* record = m_table.Find(keys[row]);
            if (record == nullptr || record->m_bSeen != 0) {
                continue;
            }
            gone.push_back(row);
            if (record->m_bAuthorized != 0) {
                record->m_bOnline = 0; // keeps its credentials until it answers again
            } else {
                m_table.Remove(keys[row]);
            }
        }
    }
    if (!gone.empty()) {
        m_list.DeleteRows(gone);
    }
    if (m_hooks.enableRefresh) {
        m_hooks.enableRefresh(true);
    }
    if (m_hooks.refreshAccountServers) {
        m_hooks.refreshAccountServers();
    }
    m_bDiscovering = 0;
}
