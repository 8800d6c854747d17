#include "service/Base64Decode.h"

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
