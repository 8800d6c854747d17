#include "core/CConfigFile.h"

#include "core/CArchiveReader.h"
#include "core/CArchiveWriter.h"
#include "core/audit/AuditRecords.h"
#include "platform/io/CUniqueFd.h"
#include "platform/text/TextConv.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::u16string_view kCreateFailed = u"Failed to create a new Configuration File.";
constexpr std::u16string_view kOpenFailed = u"Failed to open Configuration File.";
constexpr std::u16string_view kDiskFull = u"Disk full while accessing %1.";
constexpr std::u16string_view kHardware = u"A hardware I/O error was reported while accessing %1.";
constexpr std::u16string_view kUnknown = u"An unknown error occurred while accessing %1.";

std::u16string Substitute(std::u16string_view format, const std::filesystem::path& path) {
    std::error_code ec;
    const auto full = std::filesystem::absolute(path, ec);
    const std::u16string name = Utf8ToUtf16((ec ? path : full).string());
    std::u16string text(format);
    if (const auto pos = text.find(u"%1"); pos != std::u16string::npos) {
        text.replace(pos, 2, name);
    }
    return text;
}

bool WriteAll(CConfigFileIo& io, int fd, const std::vector<uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = io.Write(fd, std::span(bytes).subspan(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadAll(CConfigFileIo& io, int fd, std::vector<uint8_t>& bytes) {
    uint8_t chunk[65536];
    for (;;) {
        const ssize_t n = io.Read(fd, chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
}

bool IsFull(int error) {
    return error == ENOSPC || error == EDQUOT;
}

// The platform's file error text for a failed read or write of the file at path.
std::u16string FileErrorText(int error, const std::filesystem::path& path) {
    if (IsFull(error)) {
        return Substitute(kDiskFull, path);
    }
    return Substitute(error == EIO ? kHardware : kUnknown, path);
}

// A unique temporary file beside the target, created with mode 0600.
CUniqueFd CreateTemporary(const std::filesystem::path& target, std::string& tempName) {
    std::string pattern = target.string() + ".XXXXXX";
    CUniqueFd fd(::mkstemp(pattern.data()));
    if (fd) {
        ::fchmod(fd.Get(), 0600);
        tempName = pattern;
    }
    return fd;
}

// A table count as the archive writes it: a word, or 0xFFFF and a double word.
bool ReadCountAt(std::span<const uint8_t> bytes, std::size_t& at, uint32_t& count) {
    constexpr uint16_t kLongCount = 0xFFFF;
    constexpr std::size_t kWord = 2;
    constexpr std::size_t kDword = 4;
    if (bytes.size() < at + kWord) {
        return false;
    }
    const auto word = static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
    at += kWord;
    if (word != kLongCount) {
        count = word;
        return true;
    }
    if (bytes.size() < at + kDword) {
        return false;
    }
    count = static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
            static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
    at += kDword;
    return true;
}

} // namespace

bool CConfigFile::StartsLikeConfigurationFile(std::span<const uint8_t> head) {
    // The marker that opens every wide text of the archive, the key of a table's first record.
    constexpr std::array<uint8_t, 3> kTextMarker = {0xFF, 0xFE, 0xFF};
    std::size_t at = 0;
    for (int table = 0; table < 2; ++table) {
        uint32_t count = 0;
        if (!ReadCountAt(head, at, count)) {
            return false;
        }
        if (count > 0) {
            return head.size() >= at + kTextMarker.size() &&
                   std::equal(kTextMarker.begin(), kTextMarker.end(), head.begin() + at);
        }
    }
    return at == head.size();
}

std::u16string CConfigFile::FormatErrorText(EArchiveError error,
                                            const std::filesystem::path& path) {
    switch (error) {
    case EArchiveError::EndOfFile:
        return Substitute(u"Attempted to access %1 past its end.", path);
    case EArchiveError::BadClass:
        return Substitute(u"%1 contained an unexpected object.", path);
    case EArchiveError::BadSchema:
        return Substitute(u"%1 contains an incorrect schema.", path);
    case EArchiveError::BadIndex:
    case EArchiveError::BadKey:
        return Substitute(u"%1 has a bad format.", path);
    case EArchiveError::Generic:
    case EArchiveError::None:
        break;
    }
    return Substitute(kUnknown, path);
}

std::vector<uint8_t> CConfigFile::Serialize(const CGroupTable& groups, const CUserTable& users) {
    CArchiveWriter ar;
    // One group mapping directory groups puts the whole table at its schema; a file without any
    // stays readable by copies that predate the mapping.
    for (const auto& entry : groups) {
        ar.RaiseSchema(CGroupData::kClassName, entry.second->GetSchema());
    }
    ar.WriteCount(groups.size());
    for (const auto& [key, group] : groups) {
        ar.WriteText(key);
        ar.WriteObject(*group);
    }
    ar.WriteCount(users.size());
    for (const auto& [key, user] : users) {
        ar.WriteText(key);
        ar.WriteObject(*user);
    }
    return ar.TakeBytes();
}

template <typename Record, typename Table>
bool CConfigFile::ReadTable(CArchiveReader& ar, Table& table) {
    uint32_t count = 0;
    if (!ar.ReadCount(count)) {
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        std::u16string key;
        std::unique_ptr<CSerializable> object;
        CArchiveReader::EObjectKind kind{};
        if (!ar.ReadText(key) || !ar.ReadObject(object, kind)) {
            return false;
        }
        // The writer never produces an empty slot or a second reference to one record.
        if (kind != CArchiveReader::EObjectKind::New) {
            return ar.Fail(EArchiveError::BadIndex);
        }
        auto* record = dynamic_cast<Record*>(object.get());
        if (record == nullptr) {
            return ar.Fail(EArchiveError::BadClass);
        }
        object.release();
        std::unique_ptr<Record> owned(record);
        // The key names the registry value the record is written to, and the record's name is
        // its key after the next start: the two must agree, each key stand once, and none be
        // empty (a user without a name would be anyone's).
        if (key.empty() || key != owned->m_strName || table.contains(key)) {
            return ar.Fail(EArchiveError::BadKey);
        }
        table[key] = std::move(owned);
    }
    return true;
}

EArchiveError CConfigFile::Parse(std::span<const uint8_t> bytes, CGroupTable& groups,
                                 CUserTable& users) {
    CArchiveReader ar(bytes);
    if (ReadTable<CGroupData>(ar, groups)) {
        ReadTable<CUserData>(ar, users);
    }
    return ar.Error();
}

namespace {

// Records the result in the audit trail and answers it.
CConfigResult Audited(const COrvaneSrvCore& core, std::string_view event,
                      const std::filesystem::path& path, CConfigResult result) {
    const std::string failure =
        result.status == EConfigStatus::Ok ? std::string() : Utf16ToUtf8(result.strMessage);
    core.Audit(ConfigFileRecord(event, core.ChangeSource(), path, failure));
    return result;
}

} // namespace

CConfigResult CConfigFile::Export(const std::filesystem::path& path, COrvaneSrvCore& core) {
    CConfigFileIo io;
    return Audited(core, "export", path, Export(path, core, io));
}

CConfigResult CConfigFile::Import(const std::filesystem::path& path, COrvaneSrvCore& core) {
    CConfigFileIo io;
    return Audited(core, "import", path, Import(path, core, io));
}

CConfigResult CConfigFile::Export(const std::filesystem::path& path, COrvaneSrvCore& core,
                                  CConfigFileIo& io) {
    std::vector<uint8_t> bytes;
    CConfigCounts counts;
    core.Read([&](const CTablesView& tables) {
        bytes = Serialize(tables.groups, tables.users);
        counts.nUsers = tables.users.size();
        counts.nGroups = tables.groups.size();
    });
    std::string tempName;
    CUniqueFd fd = CreateTemporary(path, tempName);
    if (!fd) {
        return {EConfigStatus::CreateFailed, std::u16string(kCreateFailed), {}};
    }
    const bool written = WriteAll(io, fd.Get(), bytes) && io.Fsync(fd.Get()) == 0;
    int error = written ? 0 : errno;
    if (fd.Close() != 0 && written) {
        error = errno;
    }
    if (error == 0 && io.Rename(tempName.c_str(), path.c_str()) != 0) {
        error = errno;
        // The name could not be given to the file (a folder of that name, no right to replace
        // it, ...): as if it could not be created. Only running out of room or a failing disk
        // are file errors.
        if (!IsFull(error) && error != EIO) {
            ::unlink(tempName.c_str());
            return {EConfigStatus::CreateFailed, std::u16string(kCreateFailed), {}};
        }
    }
    if (error != 0) {
        ::unlink(tempName.c_str());
        return {EConfigStatus::WriteError, FileErrorText(error, path), {}};
    }
    return {EConfigStatus::Ok, {}, counts};
}

CConfigResult CConfigFile::Import(const std::filesystem::path& path, COrvaneSrvCore& core,
                                  CConfigFileIo& io) {
    const CUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return {EConfigStatus::OpenFailed, std::u16string(kOpenFailed), {}};
    }
    std::vector<uint8_t> bytes;
    if (!ReadAll(io, fd.Get(), bytes)) {
        return {EConfigStatus::ReadError, FileErrorText(errno, path), {}};
    }
    CGroupTable groups;
    CUserTable users;
    if (const EArchiveError error = Parse(bytes, groups, users); error != EArchiveError::None) {
        return {EConfigStatus::FormatError, FormatErrorText(error, path), {}};
    }
    CConfigResult result;
    if (!core.MergeImported(std::move(groups), std::move(users), &result.counts)) {
        return {EConfigStatus::SaveFailed, core.LastSaveError(), {}};
    }
    return result;
}
