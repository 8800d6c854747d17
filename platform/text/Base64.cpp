#include "platform/text/Base64.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

namespace {

constexpr int8_t kSkip = -1;

constexpr std::array<int8_t, 256> MakeTable() {
    std::array<int8_t, 256> table{};
    table.fill(kSkip);
    for (int i = 0; i < 26; ++i) {
        table['A' + i] = static_cast<int8_t>(i);
        table['a' + i] = static_cast<int8_t>(26 + i);
    }
    for (int i = 0; i < 10; ++i) {
        table['0' + i] = static_cast<int8_t>(52 + i);
    }
    table['+'] = 62;
    table['/'] = 63;
    return table;
}

constexpr std::array<int8_t, 256> kTable = MakeTable();
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kGroupBytes = 3;

class CReader {
public:
    explicit CReader(std::string_view text) : m_text(text) {}

    // The next value of the alphabet, or none when the input ends (or, if bStopAtPad, at an
    // equals sign).
    std::optional<uint8_t> Next(bool bStopAtPad) {
        while (m_i < m_text.size()) {
            const auto byte = static_cast<unsigned char>(m_text[m_i++]);
            if (bStopAtPad && byte == '=') {
                m_bStopped = true;
                return std::nullopt;
            }
            if (kTable[byte] != kSkip) {
                return static_cast<uint8_t>(kTable[byte]);
            }
        }
        return std::nullopt;
    }
    bool More() const { return !m_bStopped && m_i < m_text.size(); }

private:
    std::string_view m_text;
    std::size_t m_i = 0;
    bool m_bStopped = false;
};

} // namespace

std::string Base64Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    CReader reader(text);
    do {
        const auto first = reader.Next(false);
        if (!first) {
            break;
        }
        const auto second = reader.Next(false);
        if (!second) {
            break;
        }
        out.push_back(static_cast<char>((*first << 2) | (*second >> 4)));
        const auto third = reader.Next(true);
        if (!third) {
            break;
        }
        out.push_back(static_cast<char>(((*second & 15) << 4) | (*third >> 2)));
        const auto fourth = reader.Next(true);
        if (!fourth) {
            break;
        }
        out.push_back(static_cast<char>(((*third & 3) << 6) | *fourth));
    } while (reader.More());
    return out;
}

std::string Base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + kGroupBytes - 1) / kGroupBytes * 4);
    for (std::size_t i = 0; i < bytes.size(); i += kGroupBytes) {
        const std::size_t n = std::min(kGroupBytes, bytes.size() - i);
        uint32_t group = 0;
        for (std::size_t k = 0; k < kGroupBytes; ++k) {
            group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0U);
        }
        // n bytes give n + 1 significant characters; the rest of the four are padding.
        for (std::size_t k = 0; k < 4; ++k) {
            out.push_back(k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 63] : '=');
        }
    }
    return out;
}
