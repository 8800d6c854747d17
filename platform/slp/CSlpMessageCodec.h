// Encoders and decoders of the SLPv2 messages. Decoders take a datagram or stream message
// exactly as received and trust nothing in it: every length is checked against the bytes that
// are there, and a message that does not add up is refused as a whole (nullopt).
#pragma once

#include "platform/slp/SlpMessages.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class CSlpMessageCodec {
public:
    using Bytes = std::span<const std::uint8_t>;

    // Each encoder returns the whole message; empty when a field is too long for its length.
    // The template is built for the messages of SlpMessages.h that have no overload here.
    template <class Message>
    static std::vector<std::uint8_t> Encode(const SlpHeader& header, const Message& body);
    static std::vector<std::uint8_t> Encode(const SlpHeader& header, const SlpSrvRply& body);
    static std::vector<std::uint8_t> Encode(const SlpHeader& header, const SlpSrvTypeRqst& body);

    // Version 2, a known function, a length that fits the bytes and a language tag inside it.
    static std::optional<SlpHeader> DecodeHeader(Bytes message);

    // Body decoders; the header must come from DecodeHeader on the same bytes. The template is
    // built for the messages whose named decoders point at it.
    template <class Message>
    static std::optional<Message> Decode(Bytes message, const SlpHeader& header);
    static constexpr auto DecodeSrvRqst = &Decode<SlpSrvRqst>;
    // With the overflow flag set, the entries that arrived whole are kept.
    static std::optional<SlpSrvRply> DecodeSrvRply(Bytes message, const SlpHeader& header);
    static constexpr auto DecodeAttrRqst = &Decode<SlpAttrRqst>;
    static constexpr auto DecodeAttrRply = &Decode<SlpAttrRply>;
    static std::optional<SlpSrvTypeRqst> DecodeSrvTypeRqst(Bytes message, const SlpHeader& header);
    static constexpr auto DecodeSrvTypeRply = &Decode<SlpSrvTypeRply>;
    static constexpr auto DecodeDAAdvert = &Decode<SlpDAAdvert>;
    static constexpr auto DecodeSAAdvert = &Decode<SlpSAAdvert>;
    static constexpr auto DecodeSrvReg = &Decode<SlpSrvReg>;
    static constexpr auto DecodeSrvDeReg = &Decode<SlpSrvDeReg>;
    static constexpr auto DecodeSrvAck = &Decode<SlpSrvAck>;

    // The 24-bit length a message announces in its first five bytes, for reading one off a
    // stream; nullopt when fewer than five bytes are given.
    static std::optional<std::uint32_t> PeekLength(Bytes prefix);
};
