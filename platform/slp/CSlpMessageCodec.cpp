#include "platform/slp/CSlpMessageCodec.h"

#include "platform/slp/CSlpReader.h"
#include "platform/slp/CSlpWriter.h"

namespace {

constexpr std::uint16_t kAllAuthorities = 0xFFFF;
constexpr std::uint16_t kMinAuthBlockLength = 10; // descriptor, length, timestamp, SPI length

bool KnownFunction(std::uint8_t id) {
    return id >= static_cast<std::uint8_t>(SlpFunction::SrvRqst) &&
           id <= static_cast<std::uint8_t>(SlpFunction::SAAdvert);
}

std::string Copy(std::string_view text) {
    return std::string(text);
}

} // namespace

void CSlpMessageCodec::WriteHeader(CSlpWriter& writer, const SlpHeader& header,
                                   SlpFunction function) {
    writer.U8(kSlpVersion);
    writer.U8(static_cast<std::uint8_t>(function));
    writer.U24(0); // patched by Finish
    writer.U16(header.flags);
    writer.U24(0); // no extensions
    writer.U16(header.xid);
    writer.String(header.language);
}

std::vector<std::uint8_t> CSlpMessageCodec::Finish(CSlpWriter& writer) {
    writer.PatchU24(2, static_cast<std::uint32_t>(writer.Size()));
    if (!writer.Ok()) {
        return {};
    }
    return std::move(writer.Data());
}

std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader& header,
                                                   const SlpSrvRqst& body) {
    CSlpWriter writer;
    WriteHeader(writer, header, SlpFunction::SrvRqst);
    writer.String(body.prList);
    writer.String(body.serviceType);
    writer.String(body.scopeList);
    writer.String(body.predicate);
    writer.String(body.spi);
    return Finish(writer);
}

std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader& header,
                                                   const SlpSrvRply& body) {
    CSlpWriter writer;
    WriteHeader(writer, header, SlpFunction::SrvRply);
    writer.U16(body.errorCode);
    writer.U16(static_cast<std::uint16_t>(body.entries.size()));
    for (const SlpUrlEntry& entry : body.entries) {
        WriteUrlEntry(writer, entry);
    }
    return body.entries.size() > 0xFFFF ? std::vector<std::uint8_t>{} : Finish(writer);
}

std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader& header,
                                                   const SlpAttrRqst& body) {
    CSlpWriter writer;
    WriteHeader(writer, header, SlpFunction::AttrRqst);
    writer.String(body.prList);
    writer.String(body.url);
    writer.String(body.scopeList);
    writer.String(body.tagList);
    writer.String(body.spi);
    return Finish(writer);
}

std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader& header,
                                                   const SlpAttrRply& body) {
    CSlpWriter writer;
    WriteHeader(writer, header, SlpFunction::AttrRply);
    writer.U16(body.errorCode);
    writer.String(body.attrList);
    writer.U8(0);
    return Finish(writer);
}

std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader& header,
                                                   const SlpSrvTypeRqst& body) {
    CSlpWriter writer;
    WriteHeader(writer, header, SlpFunction::SrvTypeRqst);
    writer.String(body.prList);
    if (body.allAuthorities) {
        writer.U16(kAllAuthorities);
    } else {
        writer.String(body.namingAuthority);
    }
    writer.String(body.scopeList);
    return Finish(writer);
}

std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader& header,
                                                   const SlpSrvTypeRply& body) {
    CSlpWriter writer;
    WriteHeader(writer, header, SlpFunction::SrvTypeRply);
    writer.U16(body.errorCode);
    writer.String(body.typeList);
    return Finish(writer);
}

std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader& header,
                                                   const SlpDAAdvert& body) {
    CSlpWriter writer;
    WriteHeader(writer, header, SlpFunction::DAAdvert);
    writer.U16(body.errorCode);
    writer.U32(body.bootTimestamp);
    writer.String(body.url);
    writer.String(body.scopeList);
    writer.String(body.attrList);
    writer.String(body.spiList);
    writer.U8(0);
    return Finish(writer);
}

void CSlpMessageCodec::WriteUrlEntry(CSlpWriter& writer, const SlpUrlEntry& entry) {
    writer.U8(0); // reserved
    writer.U16(entry.lifetime);
    writer.String(entry.url);
    writer.U8(0); // no URL authentication blocks
}

bool CSlpMessageCodec::ReadUrlEntry(CSlpReader& reader, SlpUrlEntry& entry) {
    reader.U8(); // reserved
    entry.lifetime = reader.U16();
    std::string_view url = reader.String();
    std::uint8_t authCount = reader.U8();
    if (!reader.Ok() || !SkipAuthBlocks(reader, authCount)) {
        return false;
    }
    entry.url = Copy(url);
    return true;
}

std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader& header, const SlpSrvReg& body) {
    CSlpWriter writer;
    WriteHeader(writer, header, SlpFunction::SrvReg);
    WriteUrlEntry(writer, body.entry);
    writer.String(body.serviceType);
    writer.String(body.scopeList);
    writer.String(body.attrList);
    writer.U8(0); // no attribute authentication blocks
    return Finish(writer);
}

std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader& header,
                                                   const SlpSrvDeReg& body) {
    CSlpWriter writer;
    WriteHeader(writer, header, SlpFunction::SrvDeReg);
    writer.String(body.scopeList);
    WriteUrlEntry(writer, body.entry);
    writer.String(body.tagList);
    return Finish(writer);
}

std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader& header, const SlpSrvAck& body) {
    CSlpWriter writer;
    WriteHeader(writer, header, SlpFunction::SrvAck);
    writer.U16(body.errorCode);
    return Finish(writer);
}

std::vector<std::uint8_t> CSlpMessageCodec::Encode(const SlpHeader& header,
                                                   const SlpSAAdvert& body) {
    CSlpWriter writer;
    WriteHeader(writer, header, SlpFunction::SAAdvert);
    writer.String(body.url);
    writer.String(body.scopeList);
    writer.String(body.attrList);
    writer.U8(0);
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

std::span<const std::uint8_t> CSlpMessageCodec::Body(Bytes message, const SlpHeader& header) {
    if (header.bodyOffset > header.length || header.length > message.size()) {
        return {};
    }
    return message.subspan(header.bodyOffset, header.length - header.bodyOffset);
}

bool CSlpMessageCodec::ReadAuthBlocks(CSlpReader& reader) {
    const std::uint8_t count = reader.U8();
    return reader.Ok() && SkipAuthBlocks(reader, count);
}

bool CSlpMessageCodec::SkipAuthBlocks(CSlpReader& reader, std::uint8_t count) {
    for (std::uint8_t i = 0; i < count && reader.Ok(); ++i) {
        reader.U16(); // block structure descriptor
        std::uint16_t length = reader.U16();
        if (length < kMinAuthBlockLength) {
            return false;
        }
        reader.Skip(length - 4u);
    }
    return reader.Ok();
}

std::optional<SlpSrvRqst> CSlpMessageCodec::DecodeSrvRqst(Bytes message, const SlpHeader& header) {
    CSlpReader reader(Body(message, header));
    SlpSrvRqst body;
    body.prList = Copy(reader.String());
    body.serviceType = Copy(reader.String());
    body.scopeList = Copy(reader.String());
    body.predicate = Copy(reader.String());
    body.spi = Copy(reader.String());
    if (!reader.Ok()) {
        return std::nullopt;
    }
    return body;
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
        if (!ReadUrlEntry(reader, entry)) {
            if (header.Overflow()) {
                return body;
            }
            return std::nullopt;
        }
        body.entries.push_back(std::move(entry));
    }
    return body;
}

std::optional<SlpAttrRqst> CSlpMessageCodec::DecodeAttrRqst(Bytes message,
                                                            const SlpHeader& header) {
    CSlpReader reader(Body(message, header));
    SlpAttrRqst body;
    body.prList = Copy(reader.String());
    body.url = Copy(reader.String());
    body.scopeList = Copy(reader.String());
    body.tagList = Copy(reader.String());
    body.spi = Copy(reader.String());
    if (!reader.Ok()) {
        return std::nullopt;
    }
    return body;
}

std::optional<SlpAttrRply> CSlpMessageCodec::DecodeAttrRply(Bytes message,
                                                            const SlpHeader& header) {
    CSlpReader reader(Body(message, header));
    SlpAttrRply body;
    body.errorCode = reader.U16();
    body.attrList = Copy(reader.String());
    if (!ReadAuthBlocks(reader)) {
        return std::nullopt;
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

std::optional<SlpSrvTypeRply> CSlpMessageCodec::DecodeSrvTypeRply(Bytes message,
                                                                  const SlpHeader& header) {
    CSlpReader reader(Body(message, header));
    SlpSrvTypeRply body;
    body.errorCode = reader.U16();
    body.typeList = Copy(reader.String());
    if (!reader.Ok()) {
        return std::nullopt;
    }
    return body;
}

std::optional<SlpDAAdvert> CSlpMessageCodec::DecodeDAAdvert(Bytes message,
                                                            const SlpHeader& header) {
    CSlpReader reader(Body(message, header));
    SlpDAAdvert body;
    body.errorCode = reader.U16();
    body.bootTimestamp = reader.U32();
    body.url = Copy(reader.String());
    body.scopeList = Copy(reader.String());
    body.attrList = Copy(reader.String());
    body.spiList = Copy(reader.String());
    if (!ReadAuthBlocks(reader)) {
        return std::nullopt;
    }
    return body;
}

std::optional<SlpSAAdvert> CSlpMessageCodec::DecodeSAAdvert(Bytes message,
                                                            const SlpHeader& header) {
    CSlpReader reader(Body(message, header));
    SlpSAAdvert body;
    body.url = Copy(reader.String());
    body.scopeList = Copy(reader.String());
    body.attrList = Copy(reader.String());
    if (!ReadAuthBlocks(reader)) {
        return std::nullopt;
    }
    return body;
}

std::optional<SlpSrvReg> CSlpMessageCodec::DecodeSrvReg(Bytes message, const SlpHeader& header) {
    CSlpReader reader(Body(message, header));
    SlpSrvReg body;
    if (!ReadUrlEntry(reader, body.entry)) {
        return std::nullopt;
    }
    body.serviceType = Copy(reader.String());
    body.scopeList = Copy(reader.String());
    body.attrList = Copy(reader.String());
    if (!ReadAuthBlocks(reader)) {
        return std::nullopt;
    }
    return body;
}

std::optional<SlpSrvDeReg> CSlpMessageCodec::DecodeSrvDeReg(Bytes message,
                                                            const SlpHeader& header) {
    CSlpReader reader(Body(message, header));
    SlpSrvDeReg body;
    body.scopeList = Copy(reader.String());
    if (!ReadUrlEntry(reader, body.entry)) {
        return std::nullopt;
    }
    body.tagList = Copy(reader.String());
    if (!reader.Ok()) {
        return std::nullopt;
    }
    return body;
}

std::optional<SlpSrvAck> CSlpMessageCodec::DecodeSrvAck(Bytes message, const SlpHeader& header) {
    CSlpReader reader(Body(message, header));
    SlpSrvAck body;
    body.errorCode = reader.U16();
    if (!reader.Ok()) {
        return std::nullopt;
    }
    return body;
}
