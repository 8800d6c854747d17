// The operator's key file; see SealKeyFile.h.
#include "core/seal/SealKeyFile.h"

#include "platform/crypto/SealCrypto.h"
#include "platform/io/CUniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kKeyFileMode = 0600;
constexpr std::size_t kHexDigits = 2 * kAeadKeyBytes;
// 64 hex digits and "\r\n", and one byte more to tell a longer file.
constexpr std::size_t kMaxRead = kHexDigits + 3;
constexpr char kHex[] = "0123456789abcdef";

std::string Refusal(const std::filesystem::path& file, std::string_view why) {
    return "the key file " + file.string() + " " + std::string(why);
}

int HexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<std::uint8_t>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The path inside folder, compared part by part after resolving what can be resolved.
bool IsInside(const std::filesystem::path& file, const std::filesystem::path& folder) {
    // An unset folder (no served folder configured) holds nothing; made absolute it would be
    // the working folder.
    if (folder.empty()) {
        return false;
    }
    std::error_code ec;
    const std::filesystem::path f =
        std::filesystem::weakly_canonical(std::filesystem::absolute(file, ec), ec);
    const std::filesystem::path d =
        std::filesystem::weakly_canonical(std::filesystem::absolute(folder, ec), ec);
    if (d.empty()) {
        return false;
    }
    auto fi = f.begin();
    for (auto di = d.begin(); di != d.end(); ++di, ++fi) {
        if (di->empty() && std::next(di) == d.end()) {
            return true; // a trailing separator
        }
        if (fi == f.end() || *fi != *di) {
            return false;
        }
    }
    return true;
}

std::string CheckStat(const std::filesystem::path& file, const struct stat& st) {
    if (S_ISLNK(st.st_mode)) {
        return Refusal(file, "is a symbolic link; give the file itself");
    }
    if (!S_ISREG(st.st_mode)) {
        return Refusal(file, "is not a regular file");
    }
    if (st.st_uid != ::geteuid()) {
        return Refusal(file, "is not owned by the user running the program");
    }
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return Refusal(file, std::string("must be mode 0600 or stricter (it is ") + mode + ")");
    }
    return {};
}

// The key from raw bytes or hex digits (with one optional line end); empty when neither.
CSecretBytes ParseKey(std::span<const std::uint8_t> content) {
    if (content.size() == kAeadKeyBytes) {
        return CSecretBytes::CopyOf(content);
    }
    auto digits = content;
    if (digits.size() == kHexDigits + 2 && digits[kHexDigits] == '\r' &&
        digits[kHexDigits + 1] == '\n') {
        digits = digits.first(kHexDigits);
    } else if (digits.size() == kHexDigits + 1 && digits[kHexDigits] == '\n') {
        digits = digits.first(kHexDigits);
    }
    if (digits.size() != kHexDigits) {
        return {};
    }
    CSecretBytes key(kAeadKeyBytes);
    for (std::size_t i = 0; i < kAeadKeyBytes; ++i) {
        const int hi = HexValue(digits[2 * i]);
        const int lo = HexValue(digits[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            return {};
        }
        key.Bytes()[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return key;
}

// Best effort: the file's name survives a crash only once its folder is synced, and a sealed
// file written under a key whose file was lost would not open again.
void SyncFolderOf(const std::filesystem::path& file) {
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    CUniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) {
        ::fsync(fd.Get());
    }
}

} // namespace

CSealKeyLoad LoadSealKeyFile(const std::filesystem::path& file,
                             std::span<const std::filesystem::path> forbiddenFolders) {
    CSealKeyLoad load;
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0) {
        load.strError = Refusal(file, std::string("cannot be read: ") + std::strerror(errno));
        return load;
    }
    if (load.strError = CheckStat(file, st); !load.strError.empty()) {
        return load;
    }
    for (const std::filesystem::path& folder : forbiddenFolders) {
        if (IsInside(file, folder)) {
            load.strError =
                Refusal(file, "must not lie inside " + folder.string() + ", beside what it locks");
            return load;
        }
    }
    // Opened without following a link and checked again, in case it was swapped after lstat.
    CUniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat opened {};
    if (!fd || ::fstat(fd.Get(), &opened) != 0) {
        load.strError = Refusal(file, std::string("cannot be read: ") + std::strerror(errno));
        return load;
    }
    if (opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
        load.strError = Refusal(file, "changed while it was being read");
        return load;
    }
    CSecretBytes content(kMaxRead);
    std::size_t nRead = 0;
    while (nRead < kMaxRead) {
        const ssize_t n = ::read(fd.Get(), content.Bytes().data() + nRead, kMaxRead - nRead);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            load.strError = Refusal(file, std::string("cannot be read: ") + std::strerror(errno));
            return load;
        }
        if (n == 0) {
            break;
        }
        nRead += static_cast<std::size_t>(n);
    }
    load.key = ParseKey(content.Bytes().first(nRead));
    if (load.key.Empty()) {
        load.strError =
            Refusal(file, "must hold exactly 32 bytes, or 64 hexadecimal digits and at most one "
                          "line end");
    }
    return load;
}

std::string CreateSealKeyFile(const std::filesystem::path& file) {
    CUniqueFd fd(
        ::open(file.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, kKeyFileMode));
    if (!fd) {
        const int error = errno;
        return error == EEXIST
                   ? Refusal(file, "already exists; it is not overwritten")
                   : Refusal(file, std::string("cannot be created: ") + std::strerror(error));
    }
    const CSecretBytes key = CSecretBytes::Random(kAeadKeyBytes);
    CSecretBytes text(kHexDigits + 1);
    for (std::size_t i = 0; i < kAeadKeyBytes; ++i) {
        text.Bytes()[2 * i] = static_cast<std::uint8_t>(kHex[key.Bytes()[i] >> 4]);
        text.Bytes()[2 * i + 1] = static_cast<std::uint8_t>(kHex[key.Bytes()[i] & 0xF]);
    }
    text.Bytes()[kHexDigits] = '\n';
    // The umask may not widen 0600, but an unusual one could narrow it past the owner's reading.
    bool bDone = ::fchmod(fd.Get(), kKeyFileMode) == 0;
    for (std::size_t done = 0; bDone && done < text.Size();) {
        const ssize_t n = ::write(fd.Get(), text.Bytes().data() + done, text.Size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        bDone = n > 0;
        done += bDone ? static_cast<std::size_t>(n) : 0;
    }
    if (bDone && ::fsync(fd.Get()) == 0 && fd.Close() == 0) {
        SyncFolderOf(file);
        return {};
    }
    const int error = errno != 0 ? errno : EIO;
    ::unlink(file.c_str());
    return Refusal(file, std::string("cannot be written: ") + std::strerror(error));
}
