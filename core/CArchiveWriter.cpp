#include "core/CArchiveWriter.h"

#include "core/CSerializable.h"

#include <algorithm>
#include <cassert>

void CArchiveWriter::WriteText(std::u16string_view text) {
    WriteByte(0xFF);
    WriteWord(0xFFFE);
    const uint64_t n = text.size();
    if (n < 0xFF) {
        WriteByte(static_cast<uint8_t>(n));
    } else if (n < 0xFFFE) {
        WriteByte(0xFF);
        WriteWord(static_cast<uint16_t>(n));
    } else if (n < 0xFFFFFFFF) {
        WriteByte(0xFF);
        WriteWord(0xFFFF);
        WriteDword(static_cast<uint32_t>(n));
    } else {
        WriteByte(0xFF);
        WriteWord(0xFFFF);
        WriteDword(0xFFFFFFFF);
        WriteQword(n);
    }
    m_bytes.reserve(m_bytes.size() + 2 * text.size());
    for (const char16_t c : text) {
        WriteWord(c);
    }
}

void CArchiveWriter::WriteCount(uint64_t count) {
    if (count < 0xFFFF) {
        WriteWord(static_cast<uint16_t>(count));
    } else {
        WriteWord(0xFFFF);
        WriteDword(static_cast<uint32_t>(count));
    }
}

void CArchiveWriter::WriteTextList(std::span<const std::u16string> list) {
    WriteCount(list.size());
    for (const auto& text : list) {
        WriteText(text);
    }
}

void CArchiveWriter::WriteClassTag(const CSerializable& object) {
    const std::string name(object.GetRuntimeClass());
    auto it = m_classIndex.find(name);
    if (it == m_classIndex.end()) {
        const auto floor = m_schemaFloor.find(name);
        const uint16_t schema = std::max(
            object.GetSchema(), floor == m_schemaFloor.end() ? uint16_t{0} : floor->second);
        WriteWord(0xFFFF);
        WriteWord(schema);
        WriteWord(static_cast<uint16_t>(name.size()));
        m_bytes.insert(m_bytes.end(), name.begin(), name.end());
        m_classIndex.emplace(name, CClassEntry{m_nNextIndex++, schema});
        return;
    }
    // A later object needing more than the description says would lose fields.
    assert(object.GetSchema() <= it->second.nSchema);
    const uint32_t index = it->second.nIndex;
    if (index <= 0x7FFE) {
        WriteWord(static_cast<uint16_t>(0x8000 | index));
    } else {
        WriteWord(0x7FFF);
        WriteDword(0x80000000u | index);
    }
}

void CArchiveWriter::WriteObject(const CSerializable& object) {
    WriteClassTag(object);
    ++m_nNextIndex;
    object.Serialize(*this);
}

std::vector<uint8_t> CArchiveWriter::Body(const CSerializable& record) {
    CArchiveWriter ar;
    record.Serialize(ar);
    return ar.TakeBytes();
}

void CArchiveWriter::RaiseSchema(std::string_view className, uint16_t schema) {
    uint16_t& floor = m_schemaFloor[std::string(className)];
    floor = std::max(floor, schema);
}

bool CArchiveWriter::WritesSchema(const CSerializable& record, uint16_t schema) const {
    const auto it = m_classIndex.find(std::string(record.GetRuntimeClass()));
    return (it == m_classIndex.end() ? record.GetSchema() : it->second.nSchema) >= schema;
}
