// A temporary directory for one test, removed with everything in it when the test ends.
#pragma once

#include "tests/support/TestFiles.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

class CTempDir {
public:
    CTempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvane-test-XXXXXX");
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~CTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

    // Writes a file below the directory, creating the folders on its way.
    void Write(const std::string& name, std::string_view content) const {
        const auto file = m_path / name;
        std::filesystem::create_directories(file.parent_path());
        WriteFileText(file, content);
    }

private:
    std::filesystem::path m_path;
};
