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
    void WriteWord(uint16_t v) { WriteNumber(v); }
    void WriteDword(uint32_t v) { WriteNumber(v); }
    void WriteQword(uint64_t v) { WriteNumber(v); }

    // Always UTF-16, with the FF FE FF marker and the shortest length form.
    void WriteText(std::u16string_view text);
    void WriteCount(uint64_t count);
    void WriteTextList(std::span<const std::u16string> list);
    // A class tag (a description the first time a class is written, a reference after that)
    // followed by the record's body.
    void WriteObject(const CSerializable& object);

    // The record's body alone, as a registry value holds it (no class tag), at the record's own
    // schema.
    static std::vector<uint8_t> Body(const CSerializable& record);

    // An archive describes a class once, with one schema for every object of it: objects of the
    // class are written at no less than schema. Called before the class's first object, with
    // the highest schema any of them needs.
    void RaiseSchema(std::string_view className, uint16_t schema);
    // Whether record's body, being written, holds the fields that schema added: a tagged object
    // is written at its class description's schema, a body alone at the record's own.
    bool WritesSchema(const CSerializable& record, uint16_t schema) const;

    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    std::vector<uint8_t> TakeBytes() { return std::move(m_bytes); }

private:
    // Little-endian, as the format has it.
    template <typename T>
    void WriteNumber(T v) {
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            m_bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    }
    void WriteClassTag(const CSerializable& object);

    struct CClassEntry {
        uint32_t nIndex;
        uint16_t nSchema;
    };

    std::vector<uint8_t> m_bytes;
    std::unordered_map<std::string, CClassEntry> m_classIndex;
    std::unordered_map<std::string, uint16_t> m_schemaFloor;
    uint32_t m_nNextIndex = 1;
};
