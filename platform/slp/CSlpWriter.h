// Builds an SLP message in network byte order. Strings longer than their 16-bit length field
// can say are refused (Ok() turns false) rather than cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class CSlpWriter {
public:
    void U8(std::uint8_t value) { m_bytes.push_back(value); }
    void U16(std::uint16_t value);
    void U24(std::uint32_t value);
    void U32(std::uint32_t value);
    void String(std::string_view text);
    void Bytes(std::string_view bytes);
    // Overwrites a 24-bit field written earlier, e.g. the message length once it is known.
    void PatchU24(std::size_t offset, std::uint32_t value);

    std::size_t Size() const { return m_bytes.size(); }
    bool Ok() const { return !m_bFailed; }
    std::vector<std::uint8_t>& Data() { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
    bool m_bFailed = false;
};
