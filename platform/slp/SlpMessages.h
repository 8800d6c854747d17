// The SLPv2 messages this project sends and reads, as plain records (RFC 2608 sections 8-10).
// Strings are raw wire text: escapes in attribute lists are left in place. Each message names the
// function that carries it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class SlpFunction : std::uint8_t {
    SrvRqst = 1,
    SrvRply = 2,
    SrvReg = 3,
    SrvDeReg = 4,
    SrvAck = 5,
    AttrRqst = 6,
    AttrRply = 7,
    DAAdvert = 8,
    SrvTypeRqst = 9,
    SrvTypeRply = 10,
    SAAdvert = 11,
};

// Error codes carried in replies on the wire (not the API's SLPError values).
enum class SlpWireError : std::uint16_t {
    Ok = 0,
    LanguageNotSupported = 1,
    ParseError = 2,
    InvalidRegistration = 3,
    ScopeNotSupported = 4,
    AuthenticationUnknown = 5,
    AuthenticationAbsent = 6,
    AuthenticationFailed = 7,
    VersionNotSupported = 9,
    InternalError = 10,
    DaBusyNow = 11,
    OptionNotUnderstood = 12,
    InvalidUpdate = 13,
    MessageNotSupported = 14,
    RefreshRejected = 15,
};

constexpr std::uint8_t kSlpVersion = 2;
constexpr std::uint16_t kSlpFlagOverflow = 0x8000;
constexpr std::uint16_t kSlpFlagFresh = 0x4000;
constexpr std::uint16_t kSlpFlagMulticast = 0x2000;
constexpr std::size_t kSlpFixedHeaderSize = 14; // up to and including the language tag length

struct SlpHeader {
    SlpFunction function = SlpFunction::SrvRqst;
    std::uint32_t length = 0; // of the whole message
    std::uint16_t flags = 0;
    std::uint32_t extensionOffset = 0;
    std::uint16_t xid = 0;
    std::string language = "en";
    std::size_t bodyOffset = 0; // where the body starts, filled in by the decoder

    bool Overflow() const { return (flags & kSlpFlagOverflow) != 0; }
    bool Multicast() const { return (flags & kSlpFlagMulticast) != 0; }
};

struct SlpSrvRqst {
    static constexpr SlpFunction kFunction = SlpFunction::SrvRqst;
    std::string prList;
    std::string serviceType;
    std::string scopeList;
    std::string predicate;
    std::string spi;

    bool operator==(const SlpSrvRqst&) const = default;
};

struct SlpUrlEntry {
    std::uint16_t lifetime = 0;
    std::string url;

    bool operator==(const SlpUrlEntry&) const = default;
};

struct SlpSrvRply {
    static constexpr SlpFunction kFunction = SlpFunction::SrvRply;
    std::uint16_t errorCode = 0;
    std::vector<SlpUrlEntry> entries;

    bool operator==(const SlpSrvRply&) const = default;
};

struct SlpAttrRqst {
    static constexpr SlpFunction kFunction = SlpFunction::AttrRqst;
    std::string prList;
    std::string url; // a service URL or a service type
    std::string scopeList;
    std::string tagList;
    std::string spi;

    bool operator==(const SlpAttrRqst&) const = default;
};

struct SlpAttrRply {
    static constexpr SlpFunction kFunction = SlpFunction::AttrRply;
    std::uint16_t errorCode = 0;
    std::string attrList;

    bool operator==(const SlpAttrRply&) const = default;
};

struct SlpSrvTypeRqst {
    static constexpr SlpFunction kFunction = SlpFunction::SrvTypeRqst;
    std::string prList;
    bool allAuthorities = true; // naming authority length 0xFFFF
    std::string namingAuthority;
    std::string scopeList;

    bool operator==(const SlpSrvTypeRqst&) const = default;
};

struct SlpSrvTypeRply {
    static constexpr SlpFunction kFunction = SlpFunction::SrvTypeRply;
    std::uint16_t errorCode = 0;
    std::string typeList;

    bool operator==(const SlpSrvTypeRply&) const = default;
};

struct SlpDAAdvert {
    static constexpr SlpFunction kFunction = SlpFunction::DAAdvert;
    std::uint16_t errorCode = 0;
    std::uint32_t bootTimestamp = 0;
    std::string url;
    std::string scopeList;
    std::string attrList;
    std::string spiList;

    bool operator==(const SlpDAAdvert&) const = default;
};

// A registration (RFC 2608 section 8.3): the URL with its lifetime, and what it is.
struct SlpSrvReg {
    static constexpr SlpFunction kFunction = SlpFunction::SrvReg;
    SlpUrlEntry entry;
    std::string serviceType;
    std::string scopeList;
    std::string attrList;

    bool operator==(const SlpSrvReg&) const = default;
};

// A deregistration: the whole URL when the tag list is empty, else only those attributes.
struct SlpSrvDeReg {
    static constexpr SlpFunction kFunction = SlpFunction::SrvDeReg;
    std::string scopeList;
    SlpUrlEntry entry;
    std::string tagList;

    bool operator==(const SlpSrvDeReg&) const = default;
};

struct SlpSrvAck {
    static constexpr SlpFunction kFunction = SlpFunction::SrvAck;
    std::uint16_t errorCode = 0;

    bool operator==(const SlpSrvAck&) const = default;
};

struct SlpSAAdvert {
    static constexpr SlpFunction kFunction = SlpFunction::SAAdvert;
    std::string url;
    std::string scopeList;
    std::string attrList;

    bool operator==(const SlpSAAdvert&) const = default;
};
