#include "platform/slp/CSlpMessageCodec.h"

#include "platform/slp/CSlpReader.h"
#include "platform/slp/CSlpWriter.h"

#include <concepts>
#include <tuple>
#include <type_traits>

namespace {

constexpr std::uint16_t kAllAuthorities = 0xFFFF;
constexpr std::uint16_t kMinAuthBlockLength = 10; // descriptor, length, timestamp, SPI length

// Where a message carries a count of authentication blocks and the blocks: none are sent, and
// those that arrive are checked for length and skipped.
struct SAuthBlocks {};
constexpr SAuthBlocks kAuthBlocks;

template <class Message, class Kind>
concept Is = std::same_as<std::remove_const_t<Message>, Kind>;

// The fields of each message in their order on the wire, written by Encode and filled by
// Decode alike. SrvRply and SrvTypeRqst have fields of their own kind and are coded by hand.
auto Fields(Is<SlpSrvRqst> auto& m) {
    return std::tie(m.prList, m.serviceType, m.scopeList, m.predicate, m.spi);
}
auto Fields(Is<SlpAttrRqst> auto& m) {
    return std::tie(m.prList, m.url, m.scopeList, m.tagList, m.spi);
}
auto Fields(Is<SlpAttrRply> auto& m) {
    return std::tie(m.errorCode, m.attrList, kAuthBlocks);
}
auto Fields(Is<SlpSrvTypeRply> auto& m) {
    return std::tie(m.errorCode, m.typeList);
}
auto Fields(Is<SlpDAAdvert> auto& m) {
    return std::tie(m.errorCode, m.bootTimestamp, m.url, m.scopeList, m.attrList, m.spiList,
                    kAuthBlocks);
}
auto Fields(Is<SlpSAAdvert> auto& m) {
    return std::tie(m.url, m.scopeList, m.attrList, kAuthBlocks);
}
auto Fields(Is<SlpSrvReg> auto& m) {
    return std::tie(m.entry, m.serviceType, m.scopeList, m.attrList, kAuthBlocks);
}
auto Fields(Is<SlpSrvDeReg> auto& m) {
    return std::tie(m.scopeList, m.entry, m.tagList);
}
auto Fields(Is<SlpSrvAck> auto& m) {
    return std::tie(m.errorCode);
}

bool KnownFunction(std::uint8_t id) {
    return id >= static_cast<std::uint8_t>(SlpFunction::SrvRqst) &&
           id <= static_cast<std::uint8_t>(SlpFunction::SAAdvert);
}

std::string Copy(std::string_view text) {
    return std::string(text);
}

void WriteHeader(CSlpWriter& writer, const SlpHeader& header, SlpFunction function) {
    writer.U8(kSlpVersion);
    writer.U8(static_cast<std::uint8_t>(function));
    writer.U24(0); // patched by Finish
    writer.U16(header.flags);
    writer.U24(0); // no extensions
    writer.U16(header.xid);
    writer.String(header.language);
}

std::vector<std::uint8_t> Finish(CSlpWriter& writer) {
    writer.PatchU24(2, static_cast<std::uint32_t>(writer.Size()));
    if (!writer.Ok()) {
        return {};
    }
    return std::move(writer.Data());
}

void Write(CSlpWriter& writer, std::uint16_t value) {
    writer.U16(value);
}

void Write(CSlpWriter& writer, std::uint32_t value) {
    writer.U32(value);
}

void Write(CSlpWriter& writer, const std::string& text) {
    writer.String(text);
}

void Write(CSlpWriter& writer, SAuthBlocks) {
    writer.U8(0);
}

void Write(CSlpWriter& writer, const SlpUrlEntry& entry) {
    writer.U8(0); // reserved
    writer.U16(entry.lifetime);
    writer.String(entry.url);
    Write(writer, kAuthBlocks);
}

// A failed read fails the reader, and the reads after it read nothing.
void Read(CSlpReader& reader, std::uint16_t& value) {
    value = reader.U16();
}

void Read(CSlpReader& reader, std::uint32_t& value) {
    value = reader.U32();
}

void Read(CSlpReader& reader, std::string& text) {
    text = Copy(reader.String());
}

void Read(CSlpReader& reader, SAuthBlocks) {
    const std::uint8_t count = reader.U8();
    for (std::uint8_t i = 0; i < count && reader.Ok(); ++i) {
        reader.U16(); // block structure descriptor
        const std::uint16_t length = reader.U16();
        if (length < kMinAuthBlockLength) {
            reader.Fail();
        }
        reader.Skip(length - 4u);
    }
}

void Read(CSlpReader& reader, SlpUrlEntry& entry) {
    reader.U8(); // reserved
    Read(reader, entry.lifetime);
    Read(reader, entry.url);
    Read(reader, kAuthBlocks);
}

std::span<const std::uint8_t> Body(CSlpMessageCodec::Bytes message, const SlpHeader& header) {
    if (header.bodyOffset > header.length || header.length > message.size()) {
        return {};
    }
    return message.subspan(header.bodyOffset, header.length - header.bodyOffset);
}

} // namespace

template <class Message>
std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader& header, const Message& body) {
    CSlpWriter writer;
    WriteHeader(writer, header, Message::kFunction);
    std::apply([&writer](const auto&... field) { (Write(writer, field), ...); }, Fields(body));
    return Finish(writer);
}

template <class Message>
std::optional<Message> CSlpMessageCodec::Decode(Bytes message, const SlpHeader& header) {
    CSlpReader reader(Body(message, header));
    Message body;
    std::apply([&reader](auto&... field) { (Read(reader, field), ...); }, Fields(body));
    if (!reader.Ok()) {
        return std::nullopt;
    }
    return body;
}

template std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader&, const SlpSrvRqst&);
template std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader&, const SlpAttrRqst&);
template std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader&, const SlpAttrRply&);
template std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader&,
                                                            const SlpSrvTypeRply&);
template std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader&, const SlpDAAdvert&);
template std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader&, const SlpSAAdvert&);
template std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader&, const SlpSrvReg&);
template std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader&, const SlpSrvDeReg&);
template std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader&, const SlpSrvAck&);
template std::optional<SlpSrvRqst> CSlpMessageCodec::Decode(Bytes, const SlpHeader&);
template std::optional<SlpAttrRqst> CSlpMessageCodec::Decode(Bytes, const SlpHeader&);
template std::optional<SlpAttrRply> CSlpMessageCodec::Decode(Bytes, const SlpHeader&);
template std::optional<SlpSrvTypeRply> CSlpMessageCodec::Decode(Bytes, const SlpHeader&);
template std::optional<SlpDAAdvert> CSlpMessageCodec::Decode(Bytes, const SlpHeader&);
template std::optional<SlpSAAdvert> CSlpMessageCodec::Decode(Bytes, const SlpHeader&);
template std::optional<SlpSrvReg> CSlpMessageCodec::Decode(Bytes, const SlpHeader&);
template std::optional<SlpSrvDeReg> CSlpMessageCodec::Decode(Bytes, const SlpHeader&);
template std::optional<SlpSrvAck> CSlpMessageCodec::Decode(Bytes, const SlpHeader&);

std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader& header,
                                                   const SlpSrvRply& body) {
    if (body.entries.size() > 0xFFFF) {
        return {};
    }
    CSlpWriter writer;
    WriteHeader(writer, header, SlpSrvRply::kFunction);
    writer.U16(body.errorCode);
    writer.U16(static_cast<std::uint16_t>(body.entries.size()));
    for (const SlpUrlEntry& entry : body.entries) {
        Write(writer, entry);
    }
    return Finish(writer);
}

std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader& header,
                                                   const SlpSrvTypeRqst& body) {
    CSlpWriter writer;
    WriteHeader(writer, header, SlpSrvTypeRqst::kFunction);
    writer.String(body.prList);
    if (body.allAuthorities) {
        writer.U16(kAllAuthorities);
    } else {
        writer.String(body.namingAuthority);
    }
    writer.String(body.scopeList);
    return Finish(writer);
}

std::optional<std::uint32_t> CSlpMessageCodec::PeekLength(Bytes prefix) {
    if (prefix.size() < 5) {
        return std::nullopt;
    }
    CSlpReader reader(prefix);
    reader.Skip(2);
    return reader.U24();
}

std::optional<SlpHeader> CSlpMessageCodec::DecodeHeader(Bytes message) {
    CSlpReader reader(message);
    std::uint8_t version = reader.U8();
    std::uint8_t function = reader.U8();
    SlpHeader header;
    header.length = reader.U24();
    header.flags = reader.U16();
    header.extensionOffset = reader.U24();
    header.xid = reader.U16();
    std::string_view language = reader.String();
    if (!reader.Ok() || version != kSlpVersion || !KnownFunction(function)) {
        return std::nullopt;
    }
    // The announced length must cover the header and not run past what arrived.
    if (header.length < reader.Offset() || header.length > message.size()) {
        return std::nullopt;
    }
    if (header.extensionOffset != 0 && header.extensionOffset >= header.length) {
        return std::nullopt;
    }
    header.function = static_cast<SlpFunction>(function);
    header.language = Copy(language);
    header.bodyOffset = reader.Offset();
    return header;
}

std::optional<SlpSrvRply> CSlpMessageCodec::DecodeSrvRply(Bytes message, const SlpHeader& header) {
    CSlpReader reader(Body(message, header));
    SlpSrvRply body;
    body.errorCode = reader.U16();
    std::uint16_t count = reader.U16();
    if (!reader.Ok()) {
        return std::nullopt;
    }
    // The count is not trusted for sizing: entries are added only as they are read whole.
    for (std::uint16_t i = 0; i < count; ++i) {
        SlpUrlEntry entry;
        Read(reader, entry);
        if (!reader.Ok()) {
            if (header.Overflow()) {
                return body;
            }
            return std::nullopt;
        }
        body.entries.push_back(std::move(entry));
    }
    return body;
}

std::optional<SlpSrvTypeRqst> CSlpMessageCodec::DecodeSrvTypeRqst(Bytes message,
                                                                  const SlpHeader& header) {
    CSlpReader reader(Body(message, header));
    SlpSrvTypeRqst body;
    body.prList = Copy(reader.String());
    std::uint16_t authorityLength = reader.U16();
    body.allAuthorities = authorityLength == kAllAuthorities;
    if (!body.allAuthorities) {
        body.namingAuthority = Copy(reader.Bytes(authorityLength));
    }
    body.scopeList = Copy(reader.String());
    if (!reader.Ok()) {
        return std::nullopt;
    }
    return body;
}
