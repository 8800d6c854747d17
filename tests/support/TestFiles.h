// Whole files read and written in one call, byte for byte, for tests that prepare or inspect
// stores, configuration files and logs. A file that cannot be read reads as empty.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline std::string ReadFileText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The file's lines without their line ends.
inline std::vector<std::string> ReadFileLines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

inline std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& file) {
    const std::string text = ReadFileText(file);
    return {text.begin(), text.end()};
}

// Replaces the file's content; answers whether all of it was written.
inline bool WriteFileText(const std::filesystem::path& file, std::string_view text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    return static_cast<bool>(out);
}

inline bool WriteFileBytes(const std::filesystem::path& file, std::span<const uint8_t> bytes) {
    return WriteFileText(
        file, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}
