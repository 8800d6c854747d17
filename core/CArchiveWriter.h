// Writes the object archive format: little-endian integers, length-prefixed UTF-16 texts,
// counts, text lists and tagged objects. One writer is one archive: the index counter of class
// descriptions and objects runs across everything written to it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CSerializable;

class CArchiveWriter {
public:
    void WriteByte(uint8_t v) { m_bytes.push_back(v); }
    void WriteWord(uint16_t v);
    void WriteDword(uint32_t v);
    void WriteQword(uint64_t v);

    // Always UTF-16, with the FF FE FF marker and the shortest length form.
    void WriteText(std::u16string_view text);
    void WriteCount(uint64_t count);
    void WriteTextList(std::span<const std::u16string> list);
    // A class tag (a description the first time a class is written, a reference after that)
    // followed by the record's body.
    void WriteObject(const CSerializable& object);

    // The record's body alone, as a registry value holds it (no class tag).
    static std::vector<uint8_t> Body(const CSerializable& record);

    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    std::vector<uint8_t> TakeBytes() { return std::move(m_bytes); }

private:
    void WriteClassTag(const CSerializable& object);

    std::vector<uint8_t> m_bytes;
    std::unordered_map<std::string, uint32_t> m_classIndex;
    uint32_t m_nNextIndex = 1;
};
