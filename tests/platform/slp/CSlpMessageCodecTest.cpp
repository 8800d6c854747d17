// Encoders and decoders against byte sequences laid out by hand from the SLPv2 message
// formats, and decoders against every kind of broken input.
#include "platform/slp/CSlpMessageCodec.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& bytes, std::string_view text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
}

void AppendString(Bytes& bytes, std::string_view text) {
    bytes.push_back(static_cast<std::uint8_t>(text.size() >> 8));
    bytes.push_back(static_cast<std::uint8_t>(text.size()));
    Append(bytes, text);
}

// Header with version 2, the function, the length filled in later, flags, no extension, XID
// and language "en".
Bytes Header(std::uint8_t function, std::uint16_t flags, std::uint16_t xid) {
    return Bytes{2,
                 function,
                 0,
                 0,
                 0,
                 static_cast<std::uint8_t>(flags >> 8),
                 static_cast<std::uint8_t>(flags),
                 0,
                 0,
                 0,
                 static_cast<std::uint8_t>(xid >> 8),
                 static_cast<std::uint8_t>(xid),
                 0,
                 2,
                 'e',
                 'n'};
}

void SetLength(Bytes& bytes) {
    bytes[2] = static_cast<std::uint8_t>(bytes.size() >> 16);
    bytes[3] = static_cast<std::uint8_t>(bytes.size() >> 8);
    bytes[4] = static_cast<std::uint8_t>(bytes.size());
}

Bytes SrvRplyBytes(std::uint16_t xid) {
    Bytes bytes = Header(2, 0, xid);
    bytes.insert(bytes.end(), {0, 0, 0, 2}); // no error, two URL entries
    bytes.insert(bytes.end(), {0, 0x2A, 0x30});
    AppendString(bytes, "service:raid.004417://10.0.0.5");
    bytes.push_back(0);
    bytes.insert(bytes.end(), {0, 0xFF, 0xFF});
    AppendString(bytes, "service:raid.004417://10.0.0.6");
    // One URL authentication block: descriptor 2, length 14, timestamp, SPI "ab", 2 bytes.
    bytes.insert(bytes.end(), {1, 0, 2, 0, 14, 0, 0, 0, 1});
    AppendString(bytes, "ab");
    bytes.insert(bytes.end(), {0xCA, 0xFE});
    SetLength(bytes);
    return bytes;
}

SlpHeader RequestHeader(std::uint16_t xid) {
    SlpHeader header;
    header.flags = kSlpFlagMulticast;
    header.xid = xid;
    return header;
}

} // namespace

TEST(SlpMessageCodec, SrvRqstIsLaidOutAsOnTheWire) {
    SlpSrvRqst request{"10.0.0.1", "service:raid.004417", "default", "", ""};
    Bytes expected = Header(1, 0x2000, 0x1234);
    AppendString(expected, "10.0.0.1");
    AppendString(expected, "service:raid.004417");
    AppendString(expected, "default");
    AppendString(expected, "");
    AppendString(expected, "");
    SetLength(expected);
    EXPECT_EQ(CSlpMessageCodec::Encode(RequestHeader(0x1234), request), expected);
}

TEST(SlpMessageCodec, AttrRqstIsLaidOutAsOnTheWire) {
    SlpAttrRqst request{"", "service:raid.004417://10.0.0.5", "default", "mac,hostname", ""};
    Bytes expected = Header(6, 0, 7);
    AppendString(expected, "");
    AppendString(expected, "service:raid.004417://10.0.0.5");
    AppendString(expected, "default");
    AppendString(expected, "mac,hostname");
    AppendString(expected, "");
    SetLength(expected);
    SlpHeader header;
    header.xid = 7;
    EXPECT_EQ(CSlpMessageCodec::Encode(header, request), expected);
}

TEST(SlpMessageCodec, SrvRplyWithAuthBlockIsRead) {
    Bytes bytes = SrvRplyBytes(0xBEEF);
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

TEST(SlpMessageCodec, AttrRplyAndDAAdvertAreRead) {
    Bytes attr = Header(7, 0, 9);
    attr.insert(attr.end(), {0, 0});
    AppendString(attr, "(mac=00\\2c11),keyword");
    attr.push_back(0);
    SetLength(attr);
    auto header = CSlpMessageCodec::DecodeHeader(attr);
    ASSERT_TRUE(header);
    auto reply = CSlpMessageCodec::DecodeAttrRply(attr, *header);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->attrList, "(mac=00\\2c11),keyword");

    Bytes da = Header(8, 0, 0);
    da.insert(da.end(), {0, 0, 0x5F, 0x00, 0x00, 0x01});
    AppendString(da, "service:directory-agent://10.0.0.9");
    AppendString(da, "default");
    AppendString(da, "");
    AppendString(da, "");
    da.push_back(0);
    SetLength(da);
    header = CSlpMessageCodec::DecodeHeader(da);
    ASSERT_TRUE(header);
    auto advert = CSlpMessageCodec::DecodeDAAdvert(da, *header);
    ASSERT_TRUE(advert);
    EXPECT_EQ(advert->bootTimestamp, 0x5F000001u);
    EXPECT_EQ(advert->url, "service:directory-agent://10.0.0.9");
    EXPECT_EQ(advert->scopeList, "default");
}

TEST(SlpMessageCodec, EveryEncoderRoundTrips) {
    SlpHeader header = RequestHeader(42);
    header.language = "de-AT";
    auto check = [&](const Bytes& bytes, SlpFunction function) {
        auto decoded = CSlpMessageCodec::DecodeHeader(bytes);
        EXPECT_TRUE(decoded);
        if (decoded) {
            EXPECT_EQ(decoded->function, function);
            EXPECT_EQ(decoded->length, bytes.size());
            EXPECT_EQ(decoded->language, "de-AT");
            EXPECT_EQ(decoded->xid, 42);
        }
        return decoded.value_or(SlpHeader{});
    };
    Bytes srvRqst =
        CSlpMessageCodec::Encode(header, SlpSrvRqst{"a,b", "service:x", "s", "(a=1)", ""});
    auto srv = CSlpMessageCodec::DecodeSrvRqst(srvRqst, check(srvRqst, SlpFunction::SrvRqst));
    ASSERT_TRUE(srv);
    EXPECT_EQ(srv->prList, "a,b");
    EXPECT_EQ(srv->predicate, "(a=1)");

    Bytes srvRply = CSlpMessageCodec::Encode(header, SlpSrvRply{3, {{5, "service:x://h"}}});
    auto rply = CSlpMessageCodec::DecodeSrvRply(srvRply, check(srvRply, SlpFunction::SrvRply));
    ASSERT_TRUE(rply);
    EXPECT_EQ(rply->errorCode, 3);
    EXPECT_EQ(rply->entries.at(0).url, "service:x://h");

    Bytes types = CSlpMessageCodec::Encode(header, SlpSrvTypeRqst{"", true, "", "default"});
    auto typeRqst =
        CSlpMessageCodec::DecodeSrvTypeRqst(types, check(types, SlpFunction::SrvTypeRqst));
    ASSERT_TRUE(typeRqst);
    EXPECT_TRUE(typeRqst->allAuthorities);
    EXPECT_EQ(typeRqst->scopeList, "default");

    Bytes sa = CSlpMessageCodec::Encode(header, SlpSAAdvert{"service:service-agent://h", "d", ""});
    auto advert = CSlpMessageCodec::DecodeSAAdvert(sa, check(sa, SlpFunction::SAAdvert));
    ASSERT_TRUE(advert);
    EXPECT_EQ(advert->url, "service:service-agent://h");

    Bytes da = CSlpMessageCodec::Encode(
        header, SlpDAAdvert{0, 7, "service:directory-agent://h", "d", "", ""});
    auto daAdvert = CSlpMessageCodec::DecodeDAAdvert(da, check(da, SlpFunction::DAAdvert));
    ASSERT_TRUE(daAdvert);
    EXPECT_EQ(daAdvert->bootTimestamp, 7u);
}

TEST(SlpMessageCodec, OverlongFieldsAreRefusedNotCut) {
    std::string huge(70000, 'x');
    EXPECT_TRUE(
        CSlpMessageCodec::Encode(RequestHeader(1), SlpSrvRqst{huge, "t", "s", "", ""}).empty());
}

TEST(SlpMessageCodec, BrokenHeadersAreRefused) {
    Bytes good = SrvRplyBytes(1);
    ASSERT_TRUE(CSlpMessageCodec::DecodeHeader(good));
    Bytes version = good;
    version[0] = 1;
    EXPECT_FALSE(CSlpMessageCodec::DecodeHeader(version));
    Bytes function = good;
    function[1] = 0;
    EXPECT_FALSE(CSlpMessageCodec::DecodeHeader(function));
    function[1] = 12;
    EXPECT_FALSE(CSlpMessageCodec::DecodeHeader(function));
    Bytes pastEnd = good;
    pastEnd[4] = static_cast<std::uint8_t>(pastEnd[4] + 1);
    EXPECT_FALSE(CSlpMessageCodec::DecodeHeader(pastEnd));
    Bytes shortLength = good;
    shortLength[2] = shortLength[3] = 0;
    shortLength[4] = 10;
    EXPECT_FALSE(CSlpMessageCodec::DecodeHeader(shortLength));
    Bytes language = good;
    language[12] = 0x40; // language tag longer than the message
    EXPECT_FALSE(CSlpMessageCodec::DecodeHeader(language));
    Bytes extension = good;
    extension[9] = 0xF0; // extension offset past the end
    EXPECT_FALSE(CSlpMessageCodec::DecodeHeader(extension));
}

TEST(SlpMessageCodec, EveryTruncationOfAReplyIsRefused) {
    Bytes good = SrvRplyBytes(1);
    for (std::size_t size = 0; size < good.size(); ++size) {
        Bytes cut(good.begin(), good.begin() + static_cast<long>(size));
        auto header = CSlpMessageCodec::DecodeHeader(cut);
        EXPECT_FALSE(header) << "prefix of " << size << " bytes";
        if (cut.size() >= 5) {
            SetLength(cut); // a length that agrees with the cut body
            header = CSlpMessageCodec::DecodeHeader(cut);
            if (header) {
                EXPECT_FALSE(CSlpMessageCodec::DecodeSrvRply(cut, *header))
                    << "consistent prefix of " << size << " bytes";
            }
        }
    }
}

TEST(SlpMessageCodec, ImpossibleCountsAndAuthBlocksAreRefused) {
    // 65,535 URL entries claimed in a 40-byte message.
    Bytes many = Header(2, 0, 1);
    many.insert(many.end(), {0, 0, 0xFF, 0xFF});
    many.resize(40, 0);
    SetLength(many);
    auto header = CSlpMessageCodec::DecodeHeader(many);
    ASSERT_TRUE(header);
    EXPECT_FALSE(CSlpMessageCodec::DecodeSrvRply(many, *header));

    // An authentication block whose length is smaller than its own fixed part.
    Bytes auth = Header(7, 0, 1);
    auth.insert(auth.end(), {0, 0});
    AppendString(auth, "(a=1)");
    auth.insert(auth.end(), {1, 0, 2, 0, 3, 0, 0, 0, 0, 0, 0});
    SetLength(auth);
    header = CSlpMessageCodec::DecodeHeader(auth);
    ASSERT_TRUE(header);
    EXPECT_FALSE(CSlpMessageCodec::DecodeAttrRply(auth, *header));
}

TEST(SlpMessageCodec, OverflowedReplyKeepsTheEntriesThatArrivedWhole) {
    Bytes bytes = SrvRplyBytes(1);
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

TEST(SlpMessageCodec, RegistrationsRoundTripAndEveryTruncationIsRefused) {
    SlpHeader header = RequestHeader(9);
    header.flags = kSlpFlagFresh;
    Bytes reg = CSlpMessageCodec::Encode(header, SlpSrvReg{{300, "service:raid.004417://10.0.0.5"},
                                                           "service:raid.004417",
                                                           "default",
                                                           "(mac=02:00:00:00:00:01),(type=SAN)"});
    Bytes dereg = CSlpMessageCodec::Encode(
        header, SlpSrvDeReg{"default", {0, "service:raid.004417://10.0.0.5"}, "type"});
    Bytes ack = CSlpMessageCodec::Encode(header, SlpSrvAck{13});

    auto regHeader = CSlpMessageCodec::DecodeHeader(reg);
    ASSERT_TRUE(regHeader);
    EXPECT_EQ(regHeader->function, SlpFunction::SrvReg);
    EXPECT_EQ(regHeader->flags, kSlpFlagFresh);
    auto srvReg = CSlpMessageCodec::DecodeSrvReg(reg, *regHeader);
    ASSERT_TRUE(srvReg);
    EXPECT_EQ(srvReg->entry.lifetime, 300);
    EXPECT_EQ(srvReg->entry.url, "service:raid.004417://10.0.0.5");
    EXPECT_EQ(srvReg->serviceType, "service:raid.004417");
    EXPECT_EQ(srvReg->scopeList, "default");
    EXPECT_EQ(srvReg->attrList, "(mac=02:00:00:00:00:01),(type=SAN)");

    auto deregHeader = CSlpMessageCodec::DecodeHeader(dereg);
    ASSERT_TRUE(deregHeader);
    auto srvDeReg = CSlpMessageCodec::DecodeSrvDeReg(dereg, *deregHeader);
    ASSERT_TRUE(srvDeReg);
    EXPECT_EQ(srvDeReg->scopeList, "default");
    EXPECT_EQ(srvDeReg->entry.url, "service:raid.004417://10.0.0.5");
    EXPECT_EQ(srvDeReg->tagList, "type");

    auto ackHeader = CSlpMessageCodec::DecodeHeader(ack);
    ASSERT_TRUE(ackHeader);
    EXPECT_EQ(CSlpMessageCodec::DecodeSrvAck(ack, *ackHeader)->errorCode, 13);

    // A length that agrees with a cut body must not make a cut message readable.
    for (const Bytes& whole : {reg, dereg, ack}) {
        for (std::size_t size = 5; size < whole.size(); ++size) {
            Bytes cut(whole.begin(), whole.begin() + static_cast<long>(size));
            SetLength(cut);
            auto cutHeader = CSlpMessageCodec::DecodeHeader(cut);
            if (!cutHeader) {
                continue;
            }
            EXPECT_FALSE(CSlpMessageCodec::DecodeSrvReg(cut, *cutHeader) &&
                         cutHeader->function == SlpFunction::SrvReg)
                << size;
            EXPECT_FALSE(CSlpMessageCodec::DecodeSrvDeReg(cut, *cutHeader) &&
                         cutHeader->function == SlpFunction::SrvDeReg)
                << size;
            EXPECT_FALSE(CSlpMessageCodec::DecodeSrvAck(cut, *cutHeader) &&
                         cutHeader->function == SlpFunction::SrvAck)
                << size;
        }
    }
}
