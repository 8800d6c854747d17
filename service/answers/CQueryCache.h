// The "/Query" answers already composed, per user name, so that a user who asks again before
// anything in the tables changed gets the same bytes without the document being assembled
// again. Each answer is filed with the table guard's generation it was composed under; an
// answer of another generation is never handed out, so none can be stale. The cache holds at
// most a given number of bytes, dropping the answers used longest ago first. The answers carry
// administrator passwords: their memory is overwritten whenever one is dropped.
#pragma once

#include "service/answers/ServerListDocument.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

// One composed answer: the document and what it handed out, for the audit trail.
struct CCachedQuery {
    CCachedQuery() = default;
    CCachedQuery(const CCachedQuery&) = delete;
    CCachedQuery& operator=(const CCachedQuery&) = delete;
    ~CCachedQuery();

    std::string body;
    CServedServers served;
    uint64_t generation = 0; // of the tables it was composed from
};

class CQueryCache {
public:
    explicit CQueryCache(std::size_t nMaxBytes) : m_nMaxBytes(nMaxBytes) {}

    // The answer for the user composed under the generation, if it is still held.
    std::shared_ptr<const CCachedQuery> Find(std::string_view userName, uint64_t generation);
    // Files an answer composed under the generation. Answers of older generations go first:
    // they can never be handed out again.
    void Store(std::string_view userName, uint64_t generation,
               std::shared_ptr<const CCachedQuery> answer);
    // Drops every answer (the service stops).
    void Clear();

private:
    struct CEntry {
        std::string user;
        std::shared_ptr<const CCachedQuery> answer;
        std::size_t nBytes = 0;
    };
    using Order = std::list<CEntry>; // most recently used first
    void DropAllLocked();
    void DropLocked(Order::iterator at);

    const std::size_t m_nMaxBytes;
    std::mutex m_mutex;
    uint64_t m_generation = 0; // the one every held answer was composed under
    Order m_order;
    std::unordered_map<std::string_view, Order::iterator> m_index; // keys point into m_order
    std::size_t m_nBytes = 0;
};
