// Reads the object archive format from bytes that may be truncated or hostile. Every read
// answers false at the first error and the reader keeps the error kind; nothing is allocated
// for a length before the bytes it promises are known to be there.
#pragma once

#include "core/EArchiveError.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CSerializable;

class CArchiveReader {
public:
    // What a tagged object turned out to be. Only New carries a record.
    enum class EObjectKind { New, Absent, Reference };

    explicit CArchiveReader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}

    bool ReadByte(uint8_t& v);

    // UTF-16 texts, and 8-bit texts (decoded as UTF-8).
    bool ReadText(std::u16string& text);
    bool ReadCount(uint32_t& count);
    bool ReadTextList(std::vector<std::u16string>& list);
    bool ReadObject(std::unique_ptr<CSerializable>& object, EObjectKind& kind);

    // Whether the record being read holds the fields that schema added: a tagged object when its
    // class description's schema is at least schema; a body read alone (a registry value, which
    // names no schema) when bytes follow what was read, since newer fields only ever follow the
    // older ones.
    bool ReadsSchema(uint16_t schema) const;

    EArchiveError Error() const { return m_error; }
    bool AtEnd() const { return m_nPos == m_bytes.size(); }
    std::size_t Remaining() const { return m_bytes.size() - m_nPos; }

    // Marks the archive as failed with the given kind (the first error wins).
    bool Fail(EArchiveError error);

private:
    // A little-endian number of T's size.
    template <typename T>
    bool ReadNumber(T& v);
    bool ReadTextLength(uint64_t& length, bool& wide);
    bool ReadNewClass(std::size_t& slot);
    bool MakeRecord(std::size_t classSlot, std::unique_ptr<CSerializable>& object);

    struct Slot {
        bool bClass;
        std::string className; // for classes
        uint16_t nSchema = 0;  // for classes
    };

    std::span<const uint8_t> m_bytes;
    std::size_t m_nPos = 0;
    EArchiveError m_error = EArchiveError::None;
    std::vector<Slot> m_slots{Slot{false, {}}}; // index 0: the absent object
    std::optional<uint16_t> m_objectSchema;     // of the tagged object being read
};
