#include "service/answers/CQueryCache.h"

#include <cstring>

namespace {

// Overwrites what the text holds, in a way the compiler may not leave out as a dead store.
void Wipe(std::string& text) {
    if (!text.empty()) {
        ::explicit_bzero(text.data(), text.size());
    }
}

// What an answer costs besides its text: the entry, its key and the index slot.
constexpr std::size_t kEntryOverhead = 256;

} // namespace

CCachedQuery::~CCachedQuery() {
    Wipe(body);
}

std::shared_ptr<const CCachedQuery> CQueryCache::Find(std::string_view userName,
                                                      uint64_t generation) {
    const std::lock_guard lock(m_mutex);
    if (generation != m_generation) {
        return nullptr;
    }
    const auto it = m_index.find(userName);
    if (it == m_index.end()) {
        return nullptr;
    }
    m_order.splice(m_order.begin(), m_order, it->second);
    return it->second->answer;
}

void CQueryCache::Store(std::string_view userName, uint64_t generation,
                        std::shared_ptr<const CCachedQuery> answer) {
    const std::size_t nBytes = answer->body.size() + answer->served.macs.size() +
                               answer->served.ips.size() + userName.size() + kEntryOverhead;
    const std::lock_guard lock(m_mutex);
    if (generation < m_generation || nBytes > m_nMaxBytes) {
        return;
    }
    if (generation > m_generation) {
        DropAllLocked();
        m_generation = generation;
    }
    if (const auto it = m_index.find(userName); it != m_index.end()) {
        DropLocked(it->second);
    }
    while (m_nBytes + nBytes > m_nMaxBytes) {
        DropLocked(std::prev(m_order.end()));
    }
    m_order.push_front(CEntry{std::string(userName), std::move(answer), nBytes});
    m_index.emplace(m_order.front().user, m_order.begin());
    m_nBytes += nBytes;
}

void CQueryCache::Clear() {
    const std::lock_guard lock(m_mutex);
    DropAllLocked();
}

void CQueryCache::DropAllLocked() {
    m_index.clear();
    m_order.clear();
    m_nBytes = 0;
}

void CQueryCache::DropLocked(Order::iterator at) {
    m_index.erase(at->user);
    m_nBytes -= at->nBytes;
    m_order.erase(at);
}
