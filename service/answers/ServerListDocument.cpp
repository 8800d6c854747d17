#include "service/answers/ServerListDocument.h"

#include "core/CDirectoryRules.h"
#include "platform/text/TextConv.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace {

constexpr std::string_view kAdminOpen = "<StorageServers AdminGroup=\"Yes\">";
constexpr std::string_view kOtherOpen = "<StorageServers AdminGroup=\"No\">";
constexpr std::string_view kClose = "</StorageServers>";

// The records already listed: an open-addressed set of their addresses, sized once for every
// candidate, so that dropping repeats costs one probe per server instead of a sort.
class CListedSet {
public:
    explicit CListedSet(std::size_t nCandidates)
        : m_slots(std::bit_ceil(std::max<std::size_t>(2 * nCandidates, kMinSlots)), nullptr),
          m_nShift(64 - std::countr_zero(m_slots.size())) {}

    // False when the record was in the set already.
    bool Insert(const CServerData* record) {
        constexpr uint64_t kGoldenRatio = 0x9E3779B97F4A7C15ULL;
        const std::size_t mask = m_slots.size() - 1;
        std::size_t at = (reinterpret_cast<uintptr_t>(record) * kGoldenRatio) >> m_nShift;
        for (; m_slots[at] != nullptr; at = (at + 1) & mask) {
            if (m_slots[at] == record) {
                return false;
            }
        }
        m_slots[at] = record;
        return true;
    }

private:
    static constexpr std::size_t kMinSlots = 16;
    std::vector<const CServerData*> m_slots;
    int m_nShift;
};

// The servers that the groups reach, each once, in the order the access lists name them,
// present and logged in to; and whether one of the groups is "Administrator".
bool SelectServers(const CTablesView& tables, std::span<const std::u16string> groupNames,
                   CAccessResolution& resolution, std::vector<const CServerData*>& servers) {
    bool bAdmin = false;
    std::vector<std::shared_ptr<const CGroupRecords>> reached;
    std::size_t nCandidates = 0;
    for (const std::u16string& groupName : groupNames) {
        bAdmin = bAdmin || groupName == CDirectoryRules::kAdministratorGroup;
        const auto group = tables.groups.find(groupName);
        if (group != tables.groups.end() && group->second) {
            reached.push_back(resolution.Records(tables, groupName, *group->second));
            nCandidates += reached.back()->records.size();
        }
    }
    CListedSet listed(nCandidates);
    servers.reserve(nCandidates);
    for (const auto& group : reached) {
        for (const CServerData* s : group->records) {
            if (s->m_bAuthorized != 0 && s->m_bOnline != 0 && listed.Insert(s)) {
                servers.push_back(s);
            }
        }
    }
    return bAdmin;
}

} // namespace

void BuildServerListDocument(const CTablesView& tables, std::string_view userName, std::string& doc,
                             CServedServers* pServed, CAccessResolution* pResolution) {
    const auto user = tables.users.find(Utf8ToUtf16(userName));
    std::span<const std::u16string> groups;
    if (user != tables.users.end() && user->second) {
        groups = user->second->m_listGroups;
    }
    BuildServerListDocumentFor(tables, groups, doc, pServed, pResolution);
}

void BuildServerListDocumentFor(const CTablesView& tables,
                                std::span<const std::u16string> groupNames, std::string& doc,
                                CServedServers* pServed, CAccessResolution* pResolution) {
    CAccessResolution once;
    std::vector<const CServerData*> servers;
    const bool bAdmin =
        SelectServers(tables, groupNames, pResolution != nullptr ? *pResolution : once, servers);
    // A record without a rendered element (one filled in place, never through its setters) is
    // rendered here, as it is now.
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
    for (std::string& element : rendered) {
        ::explicit_bzero(element.data(), element.size()); // it holds the password
    }
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
