#include "platform/slp/CSlpWriter.h"

void CSlpWriter::U16(std::uint16_t value) {
    m_bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    m_bytes.push_back(static_cast<std::uint8_t>(value));
}

void CSlpWriter::U24(std::uint32_t value) {
    if (value > 0xFFFFFF) {
        m_bFailed = true;
    }
    m_bytes.push_back(static_cast<std::uint8_t>(value >> 16));
    m_bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    m_bytes.push_back(static_cast<std::uint8_t>(value));
}

void CSlpWriter::U32(std::uint32_t value) {
    U16(static_cast<std::uint16_t>(value >> 16));
    U16(static_cast<std::uint16_t>(value));
}

void CSlpWriter::String(std::string_view text) {
    if (text.size() > 0xFFFF) {
        m_bFailed = true;
        text = text.substr(0, 0xFFFF);
    }
    U16(static_cast<std::uint16_t>(text.size()));
    Bytes(text);
}

void CSlpWriter::Bytes(std::string_view bytes) {
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
}

void CSlpWriter::PatchU24(std::size_t offset, std::uint32_t value) {
    if (value > 0xFFFFFF || offset + 3 > m_bytes.size()) {
        m_bFailed = true;
        return;
    }
    m_bytes[offset] = static_cast<std::uint8_t>(value >> 16);
    m_bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    m_bytes[offset + 2] = static_cast<std::uint8_t>(value);
}
