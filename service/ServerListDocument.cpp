#include "service/ServerListDocument.h"

#include "platform/text/TextConv.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace {

constexpr std::string_view kAdminOpen = "<StorageServers AdminGroup=\"Yes\">";
constexpr std::string_view kOtherOpen = "<StorageServers AdminGroup=\"No\">";
constexpr std::string_view kClose = "</StorageServers>";

// The servers that the user's groups reach, each once, in the order the access lists name
// them. A record is filed under exactly the MAC text its m_szMAC field holds, so looking an
// access entry up by key finds the same records as comparing every record's field would. The
// set keeps a user who reaches thousands of servers from costing a search per server.
class CSelection {
public:
    void Add(const CServerTable& servers, const std::vector<std::u16string>& access) {
        for (const std::u16string& mac : access) {
            const CServerData* s = servers.Find(mac);
            if (s != nullptr && s->m_bAuthorized != 0 && s->m_bOnline != 0 &&
                m_seen.insert(s).second) {
                m_servers.push_back(s);
            }
        }
    }
    const std::vector<const CServerData*>& Servers() const { return m_servers; }

private:
    std::vector<const CServerData*> m_servers;
    std::unordered_set<const CServerData*> m_seen;
};

} // namespace

void BuildServerListDocument(const COrvaneSrvCore& core, std::string_view userName,
                             std::string& doc) {
    bool bAdmin = false;
    CSelection selection;
    const auto user = core.m_mapUsers.find(Utf8ToUtf16(userName));
    if (user != core.m_mapUsers.end() && user->second) {
        for (const std::u16string& groupName : user->second->m_listGroups) {
            bAdmin = bAdmin || groupName == u"Administrator";
            const auto group = core.m_mapGroups.find(groupName);
            if (group != core.m_mapGroups.end() && group->second) {
                selection.Add(core.m_mapServers, group->second->m_listAccess);
            }
        }
    }
    // A record without a rendered element (one filled in place, never through its setters) is
    // rendered here, as it is now.
    std::vector<std::string> rendered;
    std::size_t size = doc.size() + std::max(kAdminOpen.size(), kOtherOpen.size()) + kClose.size();
    for (const CServerData* s : selection.Servers()) {
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
    for (const CServerData* s : selection.Servers()) {
        doc += s->Element().empty() ? *next++ : s->Element();
    }
    doc += kClose;
}
