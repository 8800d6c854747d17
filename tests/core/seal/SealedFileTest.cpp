// The sealed file's format: what it seals comes back, and damaged or foreign bytes never open.
#include "core/seal/CSealedFile.h"
#include "tests/core/seal/SealTestSupport.h"

#include <gtest/gtest.h>

namespace {

constexpr std::size_t kVersionAt = 8, kSourceAt = 10, kLog2NAt = 27, kAadBytes = 48;

std::string Patched(std::string file, std::size_t at, char byte) {
    file[at] = byte;
    return file;
}

TEST(SealedFile, RecordsAndHeaderComeBackAsSealed) {
    CSealHeader passphrase{1, ESealKeySource::Passphrase, {}, {16, 8, 2}};
    passphrase.salt.fill(0xA5);
    for (const CSealHeader& header : {CSealHeader{}, passphrase}) {
        for (const auto& records : {TestRecords(), std::vector<CSealedAuthorization>{}}) {
            const std::string file = SealFile(header, TestSealKey().Bytes(), records);
            const CSealHeaderRead read = ReadSealHeader(file);
            EXPECT_EQ(ESealError::None, read.eError);
            EXPECT_EQ(header, read.header);
            const CSealOpened opened = OpenSealedFile(file, TestSealKey().Bytes());
            EXPECT_EQ(ESealError::None, opened.eError);
            EXPECT_EQ(records, opened.records);
        }
    }
    // A fresh nonce each time: the same records never seal to the same bytes.
    EXPECT_NE(TestSealedFile(), TestSealedFile());
}

TEST(SealedFile, ForeignHeadersAndKeysAreNamed) {
    const std::string file = TestSealedFile();
    const struct {
        std::string bytes;
        ESealError eError;
    } cases[] = {
        {"", ESealError::NotSealedFile},
        {"ORVSEAL\r" + file.substr(8), ESealError::NotSealedFile},
        {Patched(file, kVersionAt, 2), ESealError::UnknownVersion},
        {Patched(file, kVersionAt, 0), ESealError::NotSealedFile},
        {Patched(file, kVersionAt, 2).substr(0, 12), ESealError::UnknownVersion},
        {Patched(file, kSourceAt, 3), ESealError::BadParameters},
        {Patched(file, kLog2NAt, 40), ESealError::BadParameters},
        {Patched(file, kLog2NAt, 16), ESealError::TagMismatch}, // in bounds, but sealed as 15
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.eError, OpenSealedFile(c.bytes, TestSealKey().Bytes()).eError)
            << c.bytes.size();
    }
    EXPECT_EQ(ESealError::TagMismatch,
              OpenSealedFile(file, CSecretBytes::Random(kAeadKeyBytes).Bytes()).eError);
}

TEST(SealedFile, EveryTruncationAndEveryFlippedByteIsRefused) {
    const std::string file = TestSealedFile();
    for (std::size_t n = 0; n < file.size(); ++n) {
        EXPECT_NE(ESealError::None, OpenSealedFile(file.substr(0, n), TestSealKey().Bytes()).eError)
            << n;
    }
    for (std::size_t at = 0; at < file.size(); ++at) {
        const std::string flipped = Patched(file, at, static_cast<char>(file[at] ^ 0x10));
        EXPECT_NE(ESealError::None, OpenSealedFile(flipped, TestSealKey().Bytes()).eError) << at;
    }
}

// Plaintexts that a writer with the key could seal but this one never would.
TEST(SealedFile, MalformedRecordsUnderAGoodTagAreRefused) {
    const std::string good = TestSealedFile({});
    const std::string aad = good.substr(0, kAadBytes);
    const auto nonce = std::span(reinterpret_cast<const std::uint8_t*>(aad.data()) + 36, 12);
    const std::string record = std::string("\x01\0\0\0a", 5) + std::string(12, '\0') +
                               std::string(16, '\0'); // MAC "a", three empty texts, two times
    const std::string cases[] = {
        std::string("\xFF\xFF\xFF\x0F", 4),              // a count no file could hold
        std::string("\x01\0\0\0", 4),                    // one record, no bytes
        std::string("\x01\0\0\0", 4) + record + "x",     // a byte past the last record
        std::string("\x01\0\0\0\xFF\0\0\0", 8) + record, // a length past the end
        std::string("\x01\0\0\0\x02\0\0\0\xC0\x80", 10) + record.substr(5), // overlong UTF-8
        std::string("\x01\0\0\0\x01\0\0\0\x80", 9) + record.substr(5),      // a lone continuation
    };
    auto open = [&](const std::string& plain) {
        const std::string file =
            aad + AeadSeal(TestSealKey().Bytes(), nonce, aad,
                           {reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size()});
        return OpenSealedFile(file, TestSealKey().Bytes());
    };
    const CSealOpened control = open(std::string("\x01\0\0\0", 4) + record);
    ASSERT_EQ(ESealError::None, control.eError);
    EXPECT_EQ(u"a", control.records.at(0).strMAC);
    for (const std::string& plain : cases) {
        EXPECT_EQ(ESealError::BadRecords, open(plain).eError) << plain.size();
    }
}

TEST(SealedAuthorization, WipeClearsTheCredentialsAndKeepsTheRest) {
    CSealedAuthorization record = TestRecords()[0];
    record.Wipe();
    EXPECT_TRUE(record.strPassword.empty());
    EXPECT_TRUE(record.strUserName.empty());
    EXPECT_EQ(u"00:11:22:33:44:55", record.strMAC);
}

} // namespace
