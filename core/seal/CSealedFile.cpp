// The sealed file's format; see CSealedFile.h.
//
// Layout, little-endian: "ORVSEAL\n", u16 version, u8 key source, 16 bytes salt, u8 log2 N,
// u32 r, u32 p, 12 bytes nonce, then the sealed records and the 16-byte tag. The records:
// u32 count, then per record u32-length-prefixed UTF-8 MAC, address, user and password, and the
// two times as i64.
#include "core/seal/CSealedFile.h"

#include <algorithm>
#include <new>
#include <openssl/crypto.h>
#include <stdexcept>

namespace {

constexpr std::string_view kMagic{"ORVSEAL\n"};
constexpr std::size_t kVersionEnd = kMagic.size() + 2;
constexpr std::size_t kHeaderBytes = kMagic.size() + 2 + 1 + 16 + 1 + 4 + 4;
constexpr std::size_t kAadBytes = kHeaderBytes + kAeadNonceBytes;
constexpr std::size_t kMinFileBytes = kAadBytes + kAeadTagBytes;
// Four length prefixes and two times: the least a record takes, which bounds a count.
constexpr std::size_t kMinRecordBytes = 4 * 4 + 2 * 8;

// ---- UTF-16 to UTF-8 and back. Lone surrogates are kept (as their three-byte form) rather
// than replaced, so that whatever the operator typed comes back as it was typed.

std::size_t Utf8Length(std::u16string_view text) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c < 0x80) {
            n += 1;
        } else if (c < 0x800) {
            n += 2;
        } else if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                   text[i + 1] < 0xE000) {
            n += 4;
            ++i;
        } else {
            n += 3;
        }
    }
    return n;
}

class CWriter {
public:
    explicit CWriter(std::span<std::uint8_t> out) : m_out(out) {}
    void Byte(std::uint8_t b) { m_out[m_nAt++] = b; }
    void Le(std::uint64_t v, int nBytes) {
        for (int i = 0; i < nBytes; ++i) {
            Byte(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }
    void Text(std::string_view text) {
        Le(text.size(), 4);
        for (char c : text) {
            Byte(static_cast<std::uint8_t>(c));
        }
    }
    void Text(std::u16string_view text) {
        Le(Utf8Length(text), 4);
        for (std::size_t i = 0; i < text.size(); ++i) {
            char32_t c = text[i];
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
            }
            CodePoint(c);
        }
    }
    std::size_t At() const { return m_nAt; }

private:
    void CodePoint(char32_t c) {
        if (c < 0x80) {
            Byte(static_cast<std::uint8_t>(c));
        } else if (c < 0x800) {
            Byte(static_cast<std::uint8_t>(0xC0 | (c >> 6)));
            Byte(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            Byte(static_cast<std::uint8_t>(0xE0 | (c >> 12)));
            Byte(static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F)));
            Byte(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
        } else {
            Byte(static_cast<std::uint8_t>(0xF0 | (c >> 18)));
            Byte(static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F)));
            Byte(static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F)));
            Byte(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
        }
    }

    std::span<std::uint8_t> m_out;
    std::size_t m_nAt = 0;
};

// Reads from bytes it never runs past: every read says whether it fitted.
class CReader {
public:
    explicit CReader(std::span<const std::uint8_t> in) : m_in(in) {}
    std::size_t Left() const { return m_in.size() - m_nAt; }
    bool Le(std::uint64_t& v, int nBytes) {
        if (Left() < static_cast<std::size_t>(nBytes)) {
            return false;
        }
        v = 0;
        for (int i = 0; i < nBytes; ++i) {
            v |= std::uint64_t{m_in[m_nAt++]} << (8 * i);
        }
        return true;
    }
    bool Bytes(std::span<std::uint8_t> out) {
        if (Left() < out.size()) {
            return false;
        }
        std::copy_n(m_in.begin() + static_cast<std::ptrdiff_t>(m_nAt), out.size(), out.begin());
        m_nAt += out.size();
        return true;
    }
    // A length-prefixed text, checked against what is left before anything is allocated.
    bool Prefixed(std::span<const std::uint8_t>& text) {
        std::uint64_t n = 0;
        if (!Le(n, 4) || n > Left()) {
            return false;
        }
        text = m_in.subspan(m_nAt, n);
        m_nAt += n;
        return true;
    }

private:
    std::span<const std::uint8_t> m_in;
    std::size_t m_nAt = 0;
};

// Strict UTF-8 (no overlong forms, nothing past U+10FFFF), surrogates allowed as the writer
// keeps them.
bool DecodeUtf8(std::span<const std::uint8_t> in, std::u16string& out) {
    out.clear();
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size();) {
        const std::uint8_t lead = in[i];
        const int nMore = lead < 0x80                   ? 0
                          : lead >= 0xC2 && lead < 0xE0 ? 1
                          : lead >= 0xE0 && lead < 0xF0 ? 2
                          : lead >= 0xF0 && lead < 0xF5 ? 3
                                                        : -1;
        if (nMore < 0 || in.size() - i <= static_cast<std::size_t>(nMore)) {
            return false;
        }
        char32_t c = nMore == 0 ? lead : lead & (0x3F >> nMore);
        for (int k = 1; k <= nMore; ++k) {
            if ((in[i + k] & 0xC0) != 0x80) {
                return false;
            }
            c = (c << 6) | (in[i + k] & 0x3F);
        }
        if ((nMore == 2 && c < 0x800) || (nMore == 3 && (c < 0x10000 || c > 0x10FFFF))) {
            return false;
        }
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += static_cast<std::size_t>(nMore) + 1;
    }
    return true;
}

bool ReadRecord(CReader& reader, CSealedAuthorization& record) {
    std::span<const std::uint8_t> mac, ip, user, password;
    std::uint64_t authorizedAt = 0;
    std::uint64_t verifiedAt = 0;
    if (!reader.Prefixed(mac) || !reader.Prefixed(ip) || !reader.Prefixed(user) ||
        !reader.Prefixed(password) || !reader.Le(authorizedAt, 8) || !reader.Le(verifiedAt, 8)) {
        return false;
    }
    record.strAuthorizedIP.assign(ip.begin(), ip.end());
    record.nAuthorizedAt = static_cast<std::int64_t>(authorizedAt);
    record.nVerifiedAt = static_cast<std::int64_t>(verifiedAt);
    return DecodeUtf8(mac, record.strMAC) && DecodeUtf8(user, record.strUserName) &&
           DecodeUtf8(password, record.strPassword);
}

ESealError ReadRecords(std::span<const std::uint8_t> plain,
                       std::vector<CSealedAuthorization>& records) {
    CReader reader(plain);
    std::uint64_t count = 0;
    if (!reader.Le(count, 4) || count > reader.Left() / kMinRecordBytes) {
        return ESealError::BadRecords;
    }
    records.resize(count);
    for (CSealedAuthorization& record : records) {
        if (!ReadRecord(reader, record)) {
            return ESealError::BadRecords;
        }
    }
    return reader.Left() == 0 ? ESealError::None : ESealError::BadRecords;
}

std::size_t PlaintextBytes(std::span<const CSealedAuthorization> records) {
    std::size_t n = 4;
    for (const CSealedAuthorization& r : records) {
        n += kMinRecordBytes + Utf8Length(r.strMAC) + r.strAuthorizedIP.size() +
             Utf8Length(r.strUserName) + Utf8Length(r.strPassword);
    }
    return n;
}

void WriteHeader(CWriter& writer, const CSealHeader& header) {
    for (char c : kMagic) {
        writer.Byte(static_cast<std::uint8_t>(c));
    }
    writer.Le(header.nVersion, 2);
    writer.Le(static_cast<std::uint8_t>(header.eSource), 1);
    for (std::uint8_t b : header.salt) {
        writer.Byte(b);
    }
    writer.Le(header.scrypt.nLog2N, 1);
    writer.Le(header.scrypt.nR, 4);
    writer.Le(header.scrypt.nP, 4);
}

bool KnownSource(std::uint64_t source) {
    return source == static_cast<std::uint8_t>(ESealKeySource::KeyFile) ||
           source == static_cast<std::uint8_t>(ESealKeySource::Passphrase);
}

std::span<const std::uint8_t> AsBytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

} // namespace

std::string_view SealErrorText(ESealError eError) {
    switch (eError) {
    case ESealError::None:
        return "the sealed file opened";
    case ESealError::NotFound:
        return "there is no sealed file";
    case ESealError::Unreadable:
        return "the sealed file cannot be read";
    case ESealError::NotSealedFile:
        return "the file is not a sealed file of authorizations, or it was cut short";
    case ESealError::UnknownVersion:
        return "the sealed file was written by a newer version";
    case ESealError::BadParameters:
        return "the sealed file asks for a key source or key derivation this version does not "
               "accept, or it was changed";
    case ESealError::TagMismatch:
        return "the sealed file does not open with this key or passphrase, or it was changed";
    case ESealError::BadRecords:
        return "the sealed file opened, but its records are damaged";
    }
    return "the sealed file does not open";
}

std::string SealFile(const CSealHeader& header, std::span<const std::uint8_t> key,
                     std::span<const CSealedAuthorization> records) {
    if (header.nVersion != CSealHeader::kCurrentVersion ||
        !KnownSource(static_cast<std::uint8_t>(header.eSource)) || !header.scrypt.IsAllowed()) {
        throw std::invalid_argument("a sealed file's header must be one this version reads");
    }
    std::string file(kAadBytes, '\0');
    auto* pFile = reinterpret_cast<std::uint8_t*>(file.data());
    CWriter headerWriter({pFile, kHeaderBytes});
    WriteHeader(headerWriter, header);
    const CSecretBytes nonce = CSecretBytes::Random(kAeadNonceBytes);
    std::copy(nonce.Bytes().begin(), nonce.Bytes().end(), pFile + kHeaderBytes);

    const std::size_t nPlain = PlaintextBytes(records);
    if (nPlain > UINT32_MAX) {
        throw std::invalid_argument("too many authorizations for one sealed file");
    }
    CSecretBytes plain(nPlain);
    CWriter writer(plain.Bytes());
    writer.Le(records.size(), 4);
    for (const CSealedAuthorization& r : records) {
        writer.Text(r.strMAC);
        writer.Text(r.strAuthorizedIP);
        writer.Text(r.strUserName);
        writer.Text(r.strPassword);
        writer.Le(static_cast<std::uint64_t>(r.nAuthorizedAt), 8);
        writer.Le(static_cast<std::uint64_t>(r.nVerifiedAt), 8);
    }
    file += AeadSeal(key, nonce.Bytes(), std::string_view(file), plain.Bytes());
    return file;
}

CSealHeaderRead ReadSealHeader(std::string_view file) {
    CSealHeaderRead read;
    if (file.size() < kVersionEnd || file.substr(0, kMagic.size()) != kMagic) {
        read.eError = ESealError::NotSealedFile;
        return read;
    }
    CReader reader(AsBytes(file).subspan(kMagic.size()));
    std::uint64_t version = 0;
    std::uint64_t source = 0;
    std::uint64_t log2N = 0;
    std::uint64_t r = 0;
    std::uint64_t p = 0;
    reader.Le(version, 2);
    read.header.nVersion = static_cast<std::uint16_t>(version);
    // A newer format may lay out what follows differently: its length says nothing here.
    if (version > CSealHeader::kCurrentVersion) {
        read.eError = ESealError::UnknownVersion;
        return read;
    }
    if (version != CSealHeader::kCurrentVersion || file.size() < kMinFileBytes) {
        read.eError = ESealError::NotSealedFile;
        return read;
    }
    reader.Le(source, 1);
    reader.Bytes(read.header.salt);
    reader.Le(log2N, 1);
    reader.Le(r, 4);
    reader.Le(p, 4);
    read.header.eSource = static_cast<ESealKeySource>(source);
    read.header.scrypt = {static_cast<std::uint8_t>(log2N), static_cast<std::uint32_t>(r),
                          static_cast<std::uint32_t>(p)};
    if (!KnownSource(source) || !read.header.scrypt.IsAllowed()) {
        read.eError = ESealError::BadParameters;
    }
    return read;
}

CSealOpened OpenSealedFile(std::string_view file, std::span<const std::uint8_t> key) {
    CSealOpened opened;
    const CSealHeaderRead header = ReadSealHeader(file);
    opened.nVersion = header.header.nVersion;
    if (header.eError != ESealError::None) {
        opened.eError = header.eError;
        return opened;
    }
    try {
        const std::span<const std::uint8_t> nonce =
            AsBytes(file).subspan(kHeaderBytes, kAeadNonceBytes);
        const std::optional<CSecretBytes> plain =
            AeadOpen(key, nonce, file.substr(0, kAadBytes), file.substr(kAadBytes));
        if (!plain) {
            opened.eError = ESealError::TagMismatch;
            return opened;
        }
        opened.eError = ReadRecords(plain->Bytes(), opened.records);
    } catch (const std::bad_alloc&) {
        opened.eError = ESealError::Unreadable;
    }
    if (opened.eError != ESealError::None) {
        WipeAll(opened.records);
    }
    return opened;
}
