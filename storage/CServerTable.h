// The table of discovered storage servers, keyed by the MAC address text as announced (the empty
// text for servers that announce none). It owns its records. Callers hold the directory guard
// of COrvaneSrvCore around every use, and never keep a record's address beyond one operation.
#pragma once

#include "storage/CServerData.h"

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

class CServerTable {
public:
    CServerData* Find(const std::u16string& mac) const;
    // Files a new record; used only after Find gave none.
    void Add(const std::u16string& mac, std::unique_ptr<CServerData> record);
    void Remove(const std::u16string& mac);
    void ForEach(const std::function<void(const std::u16string&, CServerData&)>& visit) const;
    void BeginPass();
    void Clear();
    std::size_t Size() const { return m_map.size(); }

private:
    std::unordered_map<std::u16string, std::unique_ptr<CServerData>> m_map;
};
