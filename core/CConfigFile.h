// Export and import of the whole account directory as a configuration file: the group table
// then the user table, as object tables of one archive.
//
// Export writes a temporary file beside the target and renames it over the target only when
// every byte is on disk, so a failed export never damages a good file; the file holds clear-text
// passwords and is created with mode 0600. Import reads the whole file into tables of its own
// and merges only when it was read completely, so a broken file changes nothing.
#pragma once

#include "core/CConfigFileIo.h"
#include "core/CConfigResult.h"
#include "core/COrvaneSrvCore.h"
#include "core/EArchiveError.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CArchiveReader;

class CConfigFile {
public:
    // The extension of an exported directory: the save dialog and orvanectl add it to a name
    // typed without one, and the credential service never hands such a file out.
    static constexpr std::string_view kExtension = ".ovx";

    static CConfigResult Export(const std::filesystem::path& path, COrvaneSrvCore& core);
    static CConfigResult Import(const std::filesystem::path& path, COrvaneSrvCore& core);
    // The same through the given file calls.
    static CConfigResult Export(const std::filesystem::path& path, COrvaneSrvCore& core,
                                CConfigFileIo& io);
    static CConfigResult Import(const std::filesystem::path& path, COrvaneSrvCore& core,
                                CConfigFileIo& io);

    // The file's bytes for the two tables, and their reader; exposed for tests and tools.
    static std::vector<uint8_t> Serialize(const CGroupTable& groups, const CUserTable& users);
    static EArchiveError Parse(std::span<const uint8_t> bytes, CGroupTable& groups,
                               CUserTable& users);

    // How many leading bytes of a file StartsLikeConfigurationFile needs at most.
    static constexpr std::size_t kSignatureBytes = 16;
    // Whether bytes, the start of a file (or all of it when shorter than kSignatureBytes), open
    // the way every exported file does: a table count and the first record's key, or the two
    // zero counts of an empty directory and nothing more.
    static bool StartsLikeConfigurationFile(std::span<const uint8_t> head);

    static std::u16string FormatErrorText(EArchiveError error, const std::filesystem::path& path);

private:
    template <typename Record, typename Table>
    static bool ReadTable(CArchiveReader& ar, Table& table);
};
