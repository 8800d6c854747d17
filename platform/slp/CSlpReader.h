// Bounds-checked cursor over an SLP message as it came from the network. Every read checks the
// bytes left first; a read that does not fit leaves the cursor failed and returns nothing, so a
// decoder can read field after field and test Ok() once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class CSlpReader {
public:
    explicit CSlpReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::uint8_t U8();
    std::uint16_t U16();
    std::uint32_t U24();
    std::uint32_t U32();
    // A string preceded by its 16-bit length.
    std::string_view String();
    std::string_view Bytes(std::size_t count);
    void Skip(std::size_t count) { Bytes(count); }
    // For what the bytes cannot tell the cursor: a field that fits but holds a wrong value.
    void Fail() { m_bFailed = true; }

    bool Ok() const { return !m_bFailed; }
    std::size_t Offset() const { return m_nOffset; }
    std::size_t Left() const { return m_bFailed ? 0 : m_bytes.size() - m_nOffset; }

private:
    bool Take(std::size_t count);

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_nOffset = 0;
    bool m_bFailed = false;
};
