// Encoders and decoders of the SLPv2 messages. Decoders take a datagram or stream message
// exactly as received and trust nothing in it: every length is checked against the bytes that
// are there, and a message that does not add up is refused as a whole (nullopt).
#pragma once

#include "platform/slp/SlpMessages.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class CSlpReader;
class CSlpWriter;

class CSlpMessageCodec {
public:
    using Bytes = std::span<const std::uint8_t>;

    // Each encoder returns the whole message; empty when a field is too long for its length.
    static std::vector<std::uint8_t> Encode(const SlpHeader& header, const SlpSrvRqst& body);
    static std::vector<std::uint8_t> Encode(const SlpHeader& header, const SlpSrvRply& body);
    static std::vector<std::uint8_t> Encode(const SlpHeader& header, const SlpAttrRqst& body);
    static std::vector<std::uint8_t> Encode(const SlpHeader& header, const SlpAttrRply& body);
    static std::vector<std::uint8_t> Encode(const SlpHeader& header, const SlpSrvTypeRqst& body);
    static std::vector<std::uint8_t> Encode(const SlpHeader& header, const SlpSrvTypeRply& body);
    static std::vector<std::uint8_t> Encode(const SlpHeader& header, const SlpDAAdvert& body);
    static std::vector<std::uint8_t> Encode(const SlpHeader& header, const SlpSAAdvert& body);
    static std::vector<std::uint8_t> Encode(const SlpHeader& header, const SlpSrvReg& body);
    static std::vector<std::uint8_t> Encode(const SlpHeader& header, const SlpSrvDeReg& body);
    static std::vector<std::uint8_t> Encode(const SlpHeader& header, const SlpSrvAck& body);

    // Version 2, a known function, a length that fits the bytes and a language tag inside it.
    static std::optional<SlpHeader> DecodeHeader(Bytes message);

    // Body decoders; the header must come from DecodeHeader on the same bytes.
    static std::optional<SlpSrvRqst> DecodeSrvRqst(Bytes message, const SlpHeader& header);
    // With the overflow flag set, the entries that arrived whole are kept.
    static std::optional<SlpSrvRply> DecodeSrvRply(Bytes message, const SlpHeader& header);
    static std::optional<SlpAttrRqst> DecodeAttrRqst(Bytes message, const SlpHeader& header);
    static std::optional<SlpAttrRply> DecodeAttrRply(Bytes message, const SlpHeader& header);
    static std::optional<SlpSrvTypeRqst> DecodeSrvTypeRqst(Bytes message, const SlpHeader& header);
    static std::optional<SlpSrvTypeRply> DecodeSrvTypeRply(Bytes message, const SlpHeader& header);
    static std::optional<SlpDAAdvert> DecodeDAAdvert(Bytes message, const SlpHeader& header);
    static std::optional<SlpSAAdvert> DecodeSAAdvert(Bytes message, const SlpHeader& header);
    static std::optional<SlpSrvReg> DecodeSrvReg(Bytes message, const SlpHeader& header);
    static std::optional<SlpSrvDeReg> DecodeSrvDeReg(Bytes message, const SlpHeader& header);
    static std::optional<SlpSrvAck> DecodeSrvAck(Bytes message, const SlpHeader& header);

    // The 24-bit length a message announces in its first five bytes, for reading one off a
    // stream; nullopt when fewer than five bytes are given.
    static std::optional<std::uint32_t> PeekLength(Bytes prefix);

private:
    static void WriteHeader(CSlpWriter& writer, const SlpHeader& header, SlpFunction function);
    static std::vector<std::uint8_t> Finish(CSlpWriter& writer);
    static bool SkipAuthBlocks(CSlpReader& reader, std::uint8_t count);
    // The count of authentication blocks that ends a message, and the blocks.
    static bool ReadAuthBlocks(CSlpReader& reader);
    static void WriteUrlEntry(CSlpWriter& writer, const SlpUrlEntry& entry);
    // False when the entry or its authentication blocks do not fit.
    static bool ReadUrlEntry(CSlpReader& reader, SlpUrlEntry& entry);
    static std::span<const std::uint8_t> Body(Bytes message, const SlpHeader& header);
};
