// The table of discovered storage servers, keyed by the MAC address text as announced (the empty
// text for servers that announce none). It owns its records. Callers hold the tables' guard
// (CTableGuard) around every use, and never keep a record's address beyond one operation.
//
// A record's key is always the text of its m_szMAC field: discovery files a server under the
// MAC text it stores, and refuses a MAC text that does not fit the field. Lookups by an access
// list's MAC text therefore find exactly the records whose field holds that text; FindAlike
// also finds those whose text differs only in letter case or separators, for an access list
// typed before its array announced itself.
#pragma once

#include "storage/CServerData.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class CServerTable {
public:
    // A reader of the table (under the shared guard) gets records it cannot change; only a
    // holder of the exclusive guard, with the table itself in hand, changes one.
    const CServerData* Find(const std::u16string& mac) const;
    CServerData* Find(const std::u16string& mac);
    // Appends the records whose MAC text differs from mac at most in letter case and separators.
    void FindAlike(const std::u16string& mac, std::vector<const CServerData*>& found) const;
    // Files a new record; used only after Find gave none.
    void Add(const std::u16string& mac, std::unique_ptr<CServerData> record);
    void Remove(const std::u16string& mac);
    void ForEach(const std::function<void(const std::u16string&, const CServerData&)>& visit) const;
    void ForEach(const std::function<void(const std::u16string&, CServerData&)>& visit);
    void BeginPass();
    void Clear();
    std::size_t Size() const { return m_map.size(); }
    // Stands for the set of records the table holds: it moves whenever one is filed or removed,
    // never when a record changes in place, and no two tables ever show the same value. A reader
    // that kept record addresses under one value may use them again (under the guard) as long
    // as the table still shows it.
    uint64_t Membership() const { return m_nMembership; }

private:
    static uint64_t NextMembership();

    void Unindex(const std::u16string& mac, const CServerData* record);

    std::unordered_map<std::u16string, std::unique_ptr<CServerData>> m_map;
    std::unordered_multimap<std::string, const CServerData*> m_byKey; // MacKey of the text
    uint64_t m_nMembership = NextMembership();
};
