// A buffer for keys and plaintext that keeps them out of swap and core files where it can, and
// overwrites them before its memory goes back: every secret byte lives in one of these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

class CSecretBytes {
public:
    // Empty (not explicit, so that a struct holding one may be brace-initialised).
    CSecretBytes() = default;
    // n zero bytes.
    explicit CSecretBytes(std::size_t n);
    ~CSecretBytes();
    CSecretBytes(CSecretBytes&& other) noexcept;
    CSecretBytes& operator=(CSecretBytes&& other) noexcept;
    CSecretBytes(const CSecretBytes&) = delete;
    CSecretBytes& operator=(const CSecretBytes&) = delete;

    // n bytes from the system's random generator; throws std::runtime_error when it fails.
    static CSecretBytes Random(std::size_t n);
    // A secret copy of bytes held elsewhere (the caller wipes its own).
    static CSecretBytes CopyOf(std::span<const std::uint8_t> bytes);

    std::span<std::uint8_t> Bytes() { return {m_pData, m_nSize}; }
    std::span<const std::uint8_t> Bytes() const { return {m_pData, m_nSize}; }
    std::size_t Size() const { return m_nSize; }
    bool Empty() const { return m_nSize == 0; }
    // Keeps the first min(n, Size()) bytes, zero-fills the rest; the old buffer is wiped.
    void Resize(std::size_t n);

    // Constant time over the bytes, so that a comparison tells nothing of where they differ.
    bool operator==(const CSecretBytes& other) const;

private:
    void Release() noexcept;

    std::uint8_t* m_pData = nullptr;
    std::size_t m_nSize = 0;
    std::size_t m_nMapped = 0;
    bool m_bLocked = false;
};
