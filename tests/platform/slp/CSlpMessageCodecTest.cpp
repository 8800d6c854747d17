// Encoders and decoders against byte sequences laid out by hand from the SLPv2 message
// formats, and decoders against every kind of broken input.
#include "platform/slp/CSlpMessageCodec.h"

#include "tests/support/Hex.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void SetLength(Bytes& bytes) {
    bytes[2] = static_cast<std::uint8_t>(bytes.size() >> 16);
    bytes[3] = static_cast<std::uint8_t>(bytes.size() >> 8);
    bytes[4] = static_cast<std::uint8_t>(bytes.size());
}

// One message of each kind laid out by hand from the message formats: header (version 2, the
// function, the 24-bit length, flags, no extension, XID 0x0102, language "en" unless given),
// then the body.
constexpr std::string_view kSrvRqstWire =
    "02 01 000030 2000 000000 0102 0002 656E"
    "0001 70  0009 736572766963653A78  0007 64656661756C74  0005 28613D3129  0000";
constexpr std::string_view kSrvRplyWire = "02 02 000027 0000 000000 0102 0002 656E"
                                          "0003 0001  00 0005 000D 736572766963653A783A2F2F68 00";
constexpr std::string_view kSrvRegWire =
    "02 03 00003F 4000 000000 0102 0002 656E"
    "00 012C 000D 736572766963653A783A2F2F68 00"
    "0009 736572766963653A78  0007 64656661756C74  0005 28613D3129  00";
constexpr std::string_view kSrvDeRegWire =
    "02 04 000032 0000 000000 0102 0002 656E"
    "0007 64656661756C74  00 0000 000D 736572766963653A783A2F2F68 00  0004 74797065";
constexpr std::string_view kSrvAckWire = "02 05 000015 0000 000000 0102 0005 64652D4154  000D";
constexpr std::string_view kAttrRqstWire =
    "02 06 000031 0000 000000 0102 0002 656E"
    "0000  000D 736572766963653A783A2F2F68  0007 64656661756C74  0003 6D6163  0000";
constexpr std::string_view kAttrRplyWire =
    "02 07 00001A 0000 000000 0102 0002 656E  0000 0005 28613D3129 00";
constexpr std::string_view kDAAdvertWire =
    "02 08 00003B 0000 000000 0102 0002 656E  0000 5F000001"
    "001B 736572766963653A6469726563746F72792D6167656E743A2F2F68  0001 64  0000  0000  00";
// All naming authorities: the length 0xFFFF and no text.
constexpr std::string_view kSrvTypeRqstWire =
    "02 09 00001D 2000 000000 0102 0002 656E  0000 FFFF 0007 64656661756C74";
constexpr std::string_view kSrvTypeRplyWire =
    "02 0A 00001D 0000 000000 0102 0002 656E  0000 0009 736572766963653A78";
constexpr std::string_view kSAAdvertWire =
    "02 0B 000031 0000 000000 0102 0002 656E"
    "0019 736572766963653A736572766963652D6167656E743A2F2F68  0001 64  0000  00";
// Two entries, the second with an authentication block: descriptor 2, length 14, timestamp 1,
// SPI "ab" and two bytes of signature.
constexpr std::string_view kSrvRplyAuthWire =
    "02 02 00006A 0000 000000 BEEF 0002 656E  0000 0002"
    "00 2A30 001E 736572766963653A726169642E3030343431373A2F2F31302E302E302E35  00"
    "00 FFFF 001E 736572766963653A726169642E3030343431373A2F2F31302E302E302E36"
    "01 0002 000E 00000001 0002 6162 CAFE";

// The message must be what the encoder writes for it, and must read back as the message.
template <class Message, class Decode>
void ExpectOnTheWire(const Message& message, std::uint16_t flags, std::string_view hex,
                     Decode decode, const std::string& language = "en") {
    SlpHeader header;
    header.flags = flags;
    header.xid = 0x0102;
    header.language = language;
    const Bytes wire = FromHex(hex);
    EXPECT_EQ(ToHex(CSlpMessageCodec::Encode(header, message)), ToHex(wire));
    const auto read = CSlpMessageCodec::DecodeHeader(wire);
    ASSERT_TRUE(read) << hex;
    EXPECT_EQ(static_cast<int>(read->function), wire[1]);
    EXPECT_EQ(read->length, wire.size());
    EXPECT_EQ(read->flags, flags);
    EXPECT_EQ(read->xid, 0x0102);
    EXPECT_EQ(read->language, language);
    const auto body = decode(wire, *read);
    ASSERT_TRUE(body) << hex;
    EXPECT_TRUE(*body == message) << hex;
}

template <auto Decode>
bool Decodes(CSlpMessageCodec::Bytes message, const SlpHeader& header) {
    return Decode(message, header).has_value();
}

} // namespace

TEST(SlpMessageCodec, EveryMessageKindIsWrittenAndReadAsLaidOutOnTheWire) {
    using C = CSlpMessageCodec;
    ExpectOnTheWire(SlpSrvRqst{"p", "service:x", "default", "(a=1)", ""}, kSlpFlagMulticast,
                    kSrvRqstWire, C::DecodeSrvRqst);
    ExpectOnTheWire(SlpSrvRply{3, {{5, "service:x://h"}}}, 0, kSrvRplyWire, C::DecodeSrvRply);
    ExpectOnTheWire(SlpSrvReg{{300, "service:x://h"}, "service:x", "default", "(a=1)"},
                    kSlpFlagFresh, kSrvRegWire, C::DecodeSrvReg);
    ExpectOnTheWire(SlpSrvDeReg{"default", {0, "service:x://h"}, "type"}, 0, kSrvDeRegWire,
                    C::DecodeSrvDeReg);
    ExpectOnTheWire(SlpSrvAck{13}, 0, kSrvAckWire, C::DecodeSrvAck, "de-AT");
    ExpectOnTheWire(SlpAttrRqst{"", "service:x://h", "default", "mac", ""}, 0, kAttrRqstWire,
                    C::DecodeAttrRqst);
    ExpectOnTheWire(SlpAttrRply{0, "(a=1)"}, 0, kAttrRplyWire, C::DecodeAttrRply);
    ExpectOnTheWire(SlpDAAdvert{0, 0x5F000001, "service:directory-agent://h", "d", "", ""}, 0,
                    kDAAdvertWire, C::DecodeDAAdvert);
    ExpectOnTheWire(SlpSrvTypeRqst{"", true, "", "default"}, kSlpFlagMulticast, kSrvTypeRqstWire,
                    C::DecodeSrvTypeRqst);
    ExpectOnTheWire(SlpSrvTypeRply{0, "service:x"}, 0, kSrvTypeRplyWire, C::DecodeSrvTypeRply);
    ExpectOnTheWire(SlpSAAdvert{"service:service-agent://h", "d", ""}, 0, kSAAdvertWire,
                    C::DecodeSAAdvert);
}

TEST(SlpMessageCodec, SrvRplyWithAuthBlockIsRead) {
    const Bytes bytes = FromHex(kSrvRplyAuthWire);
    auto header = CSlpMessageCodec::DecodeHeader(bytes);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->function, SlpFunction::SrvRply);
    EXPECT_EQ(header->xid, 0xBEEF);
    EXPECT_EQ(header->language, "en");
    auto reply = CSlpMessageCodec::DecodeSrvRply(bytes, *header);
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->entries.size(), 2u);
    EXPECT_EQ(reply->entries[0].lifetime, 0x2A30);
    EXPECT_EQ(reply->entries[0].url, "service:raid.004417://10.0.0.5");
    EXPECT_EQ(reply->entries[1].lifetime, 0xFFFF);
    EXPECT_EQ(reply->entries[1].url, "service:raid.004417://10.0.0.6");
}

TEST(SlpMessageCodec, OverlongFieldsAreRefusedNotCut) {
    std::string huge(70000, 'x');
    EXPECT_TRUE(CSlpMessageCodec::Encode(SlpHeader{}, SlpSrvRqst{huge, "t", "s", "", ""}).empty());
}

TEST(SlpMessageCodec, BrokenHeadersAreRefused) {
    const Bytes good = FromHex(kSrvRplyAuthWire);
    ASSERT_TRUE(CSlpMessageCodec::DecodeHeader(good));
    const struct {
        const char* name;
        std::size_t at;
        std::uint8_t value;
    } cases[] = {
        {"version 1", 0, 1},
        {"function 0", 1, 0},
        {"function 12", 1, 12},
        {"length one past the end", 4, static_cast<std::uint8_t>(good.size() + 1)},
        {"length shorter than a header", 4, 10},
        {"language tag longer than the message", 12, 0x40},
        {"extension offset past the end", 9, 0xF0},
    };
    for (const auto& c : cases) {
        Bytes broken = good;
        broken[c.at] = c.value;
        EXPECT_FALSE(CSlpMessageCodec::DecodeHeader(broken)) << c.name;
    }
}

TEST(SlpMessageCodec, EveryCutOfEveryMessageKindIsRefused) {
    using C = CSlpMessageCodec;
    const struct {
        Bytes whole;
        bool (*decodes)(C::Bytes, const SlpHeader&);
    } cases[] = {
        {FromHex(kSrvRqstWire), Decodes<C::DecodeSrvRqst>},
        {FromHex(kSrvRplyWire), Decodes<C::DecodeSrvRply>},
        {FromHex(kSrvRplyAuthWire), Decodes<C::DecodeSrvRply>},
        {FromHex(kSrvRegWire), Decodes<C::DecodeSrvReg>},
        {FromHex(kSrvDeRegWire), Decodes<C::DecodeSrvDeReg>},
        {FromHex(kSrvAckWire), Decodes<C::DecodeSrvAck>},
        {FromHex(kAttrRqstWire), Decodes<C::DecodeAttrRqst>},
        {FromHex(kAttrRplyWire), Decodes<C::DecodeAttrRply>},
        {FromHex(kDAAdvertWire), Decodes<C::DecodeDAAdvert>},
        {FromHex(kSrvTypeRqstWire), Decodes<C::DecodeSrvTypeRqst>},
        {FromHex(kSrvTypeRplyWire), Decodes<C::DecodeSrvTypeRply>},
        {FromHex(kSAAdvertWire), Decodes<C::DecodeSAAdvert>},
    };
    for (const auto& c : cases) {
        for (std::size_t size = 0; size < c.whole.size(); ++size) {
            Bytes cut(c.whole.begin(), c.whole.begin() + static_cast<long>(size));
            EXPECT_FALSE(C::DecodeHeader(cut)) << ToHex(c.whole) << ": prefix of " << size;
            if (cut.size() >= 5) {
                SetLength(cut); // a length that agrees with the cut body
                const auto header = C::DecodeHeader(cut);
                EXPECT_FALSE(header && c.decodes(cut, *header))
                    << ToHex(c.whole) << ": consistent prefix of " << size;
            }
        }
    }
}

TEST(SlpMessageCodec, ImpossibleCountsAndAuthBlocksAreRefused) {
    // 65,535 URL entries claimed in a 40-byte message.
    const Bytes many =
        FromHex("02 02 000028 0000 000000 0001 0002 656E  0000 FFFF" + std::string(40, '0'));
    auto header = CSlpMessageCodec::DecodeHeader(many);
    ASSERT_TRUE(header);
    EXPECT_FALSE(CSlpMessageCodec::DecodeSrvRply(many, *header));
    // Authentication blocks shorter than their own fixed part: one whose length runs backwards,
    // and one whose bytes are all there but leave no room for the timestamp and SPI length.
    for (const std::string_view hex : {
             "02 07 000024 0000 000000 0001 0002 656E  0000 0005 28613D3129 01 0002 0003 00000000 "
             "0000",
             "02 07 000022 0000 000000 0001 0002 656E  0000 0005 28613D3129 01 0002 0008 00000000",
         }) {
        const Bytes auth = FromHex(hex);
        header = CSlpMessageCodec::DecodeHeader(auth);
        ASSERT_TRUE(header) << hex;
        EXPECT_FALSE(CSlpMessageCodec::DecodeAttrRply(auth, *header)) << hex;
    }
}

TEST(SlpMessageCodec, OverflowedReplyKeepsTheEntriesThatArrivedWhole) {
    Bytes bytes = FromHex(kSrvRplyAuthWire);
    bytes[5] = 0x80; // overflow
    bytes.resize(bytes.size() - 10);
    SetLength(bytes);
    auto header = CSlpMessageCodec::DecodeHeader(bytes);
    ASSERT_TRUE(header);
    EXPECT_TRUE(header->Overflow());
    auto reply = CSlpMessageCodec::DecodeSrvRply(bytes, *header);
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->entries.size(), 1u);
    EXPECT_EQ(reply->entries[0].url, "service:raid.004417://10.0.0.5");
}
