#include "service/answers/ServerListDocument.h"

#include "core/CDirectoryRules.h"
#include "platform/text/TextConv.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

constexpr std::string_view kAdminOpen = "<StorageServers AdminGroup=\"Yes\">";
constexpr std::string_view kOtherOpen = "<StorageServers AdminGroup=\"No\">";
constexpr std::string_view kClose = "</StorageServers>";

// The servers that the user's groups reach, each once, in the order the access lists name
// them. A record is filed under exactly the MAC text its m_szMAC field holds, so looking an
// access entry up by key finds the same records as comparing every record's field would.
// Repeats are dropped once at the end, by sorting: a user who reaches thousands of servers costs
// neither a search per server nor an allocation per server.
class CSelection {
public:
    void Add(const CServerTable& servers, const std::vector<std::u16string>& access) {
        for (const std::u16string& mac : access) {
            const CServerData* s = servers.Find(mac);
            if (s != nullptr && s->m_bAuthorized != 0 && s->m_bOnline != 0) {
                m_servers.push_back(s);
            }
        }
    }
    // The servers with every repeat after the first dropped.
    const std::vector<const CServerData*>& Servers() {
        std::vector<std::pair<const CServerData*, std::size_t>> order;
        order.reserve(m_servers.size());
        for (std::size_t i = 0; i < m_servers.size(); ++i) {
            order.emplace_back(m_servers[i], i);
        }
        std::sort(order.begin(), order.end());
        for (std::size_t i = 1; i < order.size(); ++i) {
            if (order[i].first == order[i - 1].first) {
                m_servers[order[i].second] = nullptr;
            }
        }
        std::erase(m_servers, nullptr);
        return m_servers;
    }

private:
    std::vector<const CServerData*> m_servers;
};

} // namespace

void BuildServerListDocument(const CTablesView& tables, std::string_view userName, std::string& doc,
                             CServedServers* pServed) {
    bool bAdmin = false;
    CSelection selection;
    const auto user = tables.users.find(Utf8ToUtf16(userName));
    if (user != tables.users.end() && user->second) {
        for (const std::u16string& groupName : user->second->m_listGroups) {
            bAdmin = bAdmin || groupName == CDirectoryRules::kAdministratorGroup;
            const auto group = tables.groups.find(groupName);
            if (group != tables.groups.end() && group->second) {
                selection.Add(tables.servers, group->second->m_listAccess);
            }
        }
    }
    // A record without a rendered element (one filled in place, never through its setters) is
    // rendered here, as it is now.
    const std::vector<const CServerData*>& servers = selection.Servers();
    std::vector<std::string> rendered;
    std::size_t size = doc.size() + std::max(kAdminOpen.size(), kOtherOpen.size()) + kClose.size();
    for (const CServerData* s : servers) {
        if (s->Element().empty()) {
            AppendServerElement(rendered.emplace_back(), *s);
            size += rendered.back().size();
        } else {
            size += s->Element().size();
        }
    }
    doc.reserve(size);
    doc += bAdmin ? kAdminOpen : kOtherOpen;
    auto next = rendered.begin();
    for (const CServerData* s : servers) {
        doc += s->Element().empty() ? *next++ : s->Element();
    }
    doc += kClose;
    if (pServed != nullptr) {
        pServed->bAdmin = bAdmin;
        // Room for every address and its separator at once.
        pServed->macs.reserve(servers.size() * sizeof(CServerData::m_szMAC));
        pServed->ips.reserve(servers.size() * sizeof(CServerData::m_szIPAddr));
        for (const CServerData* s : servers) {
            const char* separator = pServed->macs.empty() ? "" : ",";
            pServed->macs.append(separator).append(s->m_szMAC);
            pServed->ips.append(separator).append(s->m_szIPAddr);
        }
    }
}
