// Feeds arbitrary bytes to every reader of stored bytes: a registry value read as a user and
// as a group record, and a whole configuration file. Whatever parses must write back to bytes
// that parse to the same records, and a parsed table holds each record under its own name.
#include "core/CArchiveReader.h"
#include "core/CArchiveWriter.h"
#include "core/CConfigFile.h"

#include <cstdlib>

namespace {

template <typename Record>
void ReadRecord(std::span<const uint8_t> bytes) {
    CArchiveReader ar(bytes);
    Record r;
    if (!r.Deserialize(ar)) {
        if (ar.Error() == EArchiveError::None) {
            std::abort();
        }
        return;
    }
    CArchiveWriter w;
    r.Serialize(w);
    CArchiveReader again(w.Bytes());
    Record copy;
    if (!copy.Deserialize(again) || !again.AtEnd() || copy.m_strName != r.m_strName) {
        std::abort();
    }
}

template <typename Table>
void CheckKeys(const Table& table) {
    for (const auto& [key, record] : table) {
        if (key != record->m_strName) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    ReadRecord<CUserData>(bytes);
    ReadRecord<CGroupData>(bytes);
    CGroupTable groups;
    CUserTable users;
    if (CConfigFile::Parse(bytes, groups, users) == EArchiveError::None) {
        CheckKeys(groups);
        CheckKeys(users);
        const auto written = CConfigFile::Serialize(groups, users);
        CGroupTable g2;
        CUserTable u2;
        if (CConfigFile::Parse(written, g2, u2) != EArchiveError::None ||
            g2.size() != groups.size() || u2.size() != users.size()) {
            std::abort();
        }
    }
    return 0;
}
