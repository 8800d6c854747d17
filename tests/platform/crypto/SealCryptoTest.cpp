// The sealing primitives against published answers, and their refusals of changed input.
#include "platform/crypto/SealCrypto.h"

#include "tests/support/Hex.h"

#include <gtest/gtest.h>

namespace {

std::string AsText(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

std::vector<uint8_t> AsBytes(std::span<const uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

struct CGcmCase {
    const char* key;
    const char* nonce;
    const char* aad;
    const char* plain;
    const char* sealed; // ciphertext and tag
};

// The GCM paper's AES-256 test cases 13, 14 and 16.
const CGcmCase kGcmCases[] = {
    {"0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000",
     "", "", "530f8afbc74536b9a963b4f1c4cb738b"},
    {"0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000",
     "", "00000000000000000000000000000000",
     "cea7403d4d606b6e074ec5d3baf39d18d0d1c8a799996bf0265b98b5d48ab919"},
    {"feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888",
     "feedfacedeadbeeffeedfacedeadbeefabaddad2",
     "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e24"
     "49a6b525b16aedf5aa0de657ba637b39",
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b10"
     "56828838c5f61e6393ba7a0abcc9f66276fc6ece0f4e1768cddf8853bb2d551b"},
};

TEST(SealCrypto, AesGcmMatchesKnownAnswersBothWays) {
    for (const CGcmCase& c : kGcmCases) {
        const auto key = FromHex(c.key);
        const auto nonce = FromHex(c.nonce);
        const std::string aad = AsText(FromHex(c.aad));
        const std::string sealed = AeadSeal(key, nonce, aad, FromHex(c.plain));
        EXPECT_EQ(ToHex(FromHex(c.sealed)), ToHex({sealed.begin(), sealed.end()})) << c.sealed;
        const auto opened = AeadOpen(key, nonce, aad, sealed);
        ASSERT_TRUE(opened.has_value()) << c.sealed;
        EXPECT_EQ(FromHex(c.plain), AsBytes(opened->Bytes()));
    }
}

TEST(SealCrypto, AnyChangeOrShortInputIsRefused) {
    const CGcmCase& c = kGcmCases[2];
    const auto key = FromHex(c.key);
    const auto nonce = FromHex(c.nonce);
    const std::string aad = AsText(FromHex(c.aad));
    const std::string sealed = AsText(FromHex(c.sealed));
    auto flipped = [](std::string s, std::size_t at) {
        s[at] = static_cast<char>(s[at] ^ 0x01);
        return s;
    };
    auto otherKey = key;
    otherKey[0] ^= 0x80;
    EXPECT_FALSE(AeadOpen(key, nonce, aad, flipped(sealed, sealed.size() - 1))); // tag
    EXPECT_FALSE(AeadOpen(key, nonce, aad, flipped(sealed, 0)));                 // ciphertext
    EXPECT_FALSE(AeadOpen(key, nonce, flipped(aad, 3), sealed));
    EXPECT_FALSE(AeadOpen(otherKey, nonce, aad, sealed));
    EXPECT_FALSE(AeadOpen(key, nonce, aad, sealed.substr(0, sealed.size() - 1)));
    EXPECT_FALSE(AeadOpen(key, nonce, aad, sealed.substr(0, kAeadTagBytes - 1)));
    EXPECT_FALSE(AeadOpen(std::span(key).first(16), nonce, aad, sealed));
    EXPECT_THROW(AeadSeal(key, std::span(nonce).first(8), aad, {}), std::runtime_error);
}

TEST(SealCrypto, ScryptMatchesTheRfcVector) {
    const std::string salt = "NaCl";
    const CSecretBytes key = crypto_detail::DeriveScryptUnbounded(
        "password", {reinterpret_cast<const uint8_t*>(salt.data()), salt.size()}, 1024, 8, 16, 64);
    EXPECT_EQ(ToHex(FromHex("fdbabe1c9d3472007856e7190d01e9fe7c6ad7cbc8237830e77376634b373162"
                            "2eaf30d92e22a3886ff109279d9830dac727afb94a83ee6d8360cbdfa2cc0640")),
              ToHex(AsBytes(key.Bytes())));
}

TEST(SealCrypto, ScryptBoundsRefuseWhatAFileMustNotAskFor) {
    const std::vector<std::pair<CScryptParams, bool>> cases = {
        {{}, true},           // the default
        {{14, 8, 1}, false},  // below the floor of real keys
        {{23, 8, 1}, false},  // N past the cap
        {{15, 33, 1}, false}, // r past the cap
        {{15, 8, 17}, false}, // p past the cap
        {{15, 0, 1}, false},  // no blocks
        {{15, 8, 0}, false},  // no lanes
        {{22, 32, 1}, false}, // each within its bound, 16 GiB together
        {{19, 8, 1}, true},   // half a GiB
        {{20, 8, 1}, false},  // a GiB and its bookkeeping
        {{18, 8, 16}, false}, // 64 times the default's work and more
    };
    for (const auto& [params, bAllowed] : cases) {
        EXPECT_EQ(bAllowed, params.IsAllowed())
            << int(params.nLog2N) << " " << params.nR << " " << params.nP;
    }
    EXPECT_THROW(DeriveScryptKey("pass", {}, {14, 8, 1}), std::runtime_error);
}

TEST(SecretBytes, ResizeKeepsThePrefixAndComparesByContent) {
    CSecretBytes a = CSecretBytes::CopyOf(FromHex("01 02 03 04 05"));
    a.Resize(3);
    EXPECT_EQ(FromHex("01 02 03"), AsBytes(a.Bytes()));
    a.Resize(6000); // past a page
    EXPECT_EQ(FromHex("01 02 03 00"), AsBytes(a.Bytes().first(4)));
    EXPECT_EQ(0, a.Bytes().back());
    a.Resize(3);
    EXPECT_TRUE(a == CSecretBytes::CopyOf(FromHex("01 02 03")));
    EXPECT_FALSE(a == CSecretBytes::CopyOf(FromHex("01 02 04")));
    EXPECT_FALSE(a == CSecretBytes::CopyOf(FromHex("01 02")));
    CSecretBytes moved = std::move(a);
    EXPECT_TRUE(a.Empty());
    EXPECT_EQ(3u, moved.Size());
    EXPECT_FALSE(CSecretBytes::Random(32) == CSecretBytes::Random(32));
}

} // namespace
