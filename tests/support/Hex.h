// Byte vectors written as hex text ("FF FE FF 05 61 00"), for tests that compare exact bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

inline std::vector<uint8_t> FromHex(std::string_view hex) {
    std::vector<uint8_t> bytes;
    int nibble = -1;
    for (const char c : hex) {
        int v = -1;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else {
            continue;
        }
        if (nibble < 0) {
            nibble = v;
        } else {
            bytes.push_back(static_cast<uint8_t>(nibble * 16 + v));
            nibble = -1;
        }
    }
    return bytes;
}

inline std::string ToHex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i == 0 ? "%02X" : " %02X", bytes[i]);
        out += buf;
    }
    return out;
}

inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}
