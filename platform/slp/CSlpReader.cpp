#include "platform/slp/CSlpReader.h"

bool CSlpReader::Take(std::size_t count) {
    if (m_bFailed || count > m_bytes.size() - m_nOffset) {
        m_bFailed = true;
        return false;
    }
    return true;
}

std::uint8_t CSlpReader::U8() {
    if (!Take(1)) {
        return 0;
    }
    return m_bytes[m_nOffset++];
}

std::uint16_t CSlpReader::U16() {
    if (!Take(2)) {
        return 0;
    }
    std::uint16_t value =
        static_cast<std::uint16_t>(m_bytes[m_nOffset] << 8 | m_bytes[m_nOffset + 1]);
    m_nOffset += 2;
    return value;
}

std::uint32_t CSlpReader::U24() {
    if (!Take(3)) {
        return 0;
    }
    std::uint32_t value = static_cast<std::uint32_t>(m_bytes[m_nOffset]) << 16 |
                          static_cast<std::uint32_t>(m_bytes[m_nOffset + 1]) << 8 |
                          m_bytes[m_nOffset + 2];
    m_nOffset += 3;
    return value;
}

std::uint32_t CSlpReader::U32() {
    std::uint32_t high = U16();
    std::uint32_t low = U16();
    return high << 16 | low;
}

std::string_view CSlpReader::Bytes(std::size_t count) {
    if (!Take(count)) {
        return {};
    }
    std::string_view view(reinterpret_cast<const char*>(m_bytes.data()) + m_nOffset, count);
    m_nOffset += count;
    return view;
}

std::string_view CSlpReader::String() {
    std::uint16_t length = U16();
    return Bytes(length);
}
