#include "tools/array-sim/CSimSlpAgent.h"

#include "platform/slp/CSlpMessageCodec.h"
#include "platform/text/TextUtil.h"
#include "tools/array-sim/CSimPredicate.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr std::uint16_t kLifetime = 10800;

bool ListHas(std::string_view list, std::string_view item) {
    std::string wanted = FoldWhiteSpaceLower(item);
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        std::size_t end = comma == std::string_view::npos ? list.size() : comma;
        if (FoldWhiteSpaceLower(list.substr(start, end - start)) == wanted) {
            return true;
        }
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    return false;
}

bool SameType(std::string_view requested) {
    std::string type = FoldWhiteSpaceLower(requested);
    return type == CSimSlpAgent::kServiceType || "service:" + type == CSimSlpAgent::kServiceType;
}

// The array keeps its attributes in English; "en" and its regional forms match.
bool LanguageMatches(std::string_view tag) {
    std::string lower = FoldWhiteSpaceLower(tag);
    return lower == "en" || lower.rfind("en-", 0) == 0;
}

SlpHeader ReplyHeader(const SlpHeader& request) {
    SlpHeader header;
    header.xid = request.xid;
    header.language = request.language;
    return header;
}

struct Context {
    const CArrayConfig& array;
    const SlpHeader& header;
    bool multicast;
};

// The error a unicast request gets when it is not for this array's scope or language.
std::optional<SlpWireError> Refusal(const Context& context, std::string_view scopes) {
    if (!ListHas(scopes, context.array.m_strScope)) {
        return SlpWireError::ScopeNotSupported;
    }
    if (!LanguageMatches(context.header.language)) {
        return SlpWireError::LanguageNotSupported;
    }
    return std::nullopt;
}

std::vector<CSimSlpAgent::Message> One(CSimSlpAgent::Message message) {
    std::vector<CSimSlpAgent::Message> replies;
    if (!message.empty()) {
        replies.push_back(std::move(message));
    }
    return replies;
}

// The URLs a flooding array adds to its answer: hosts of the lab's network that nobody holds.
void AddFlood(SlpSrvRply& reply) {
    constexpr int kFloodUrls = 1700;
    constexpr int kFirstSubnet = 100;
    constexpr int kHostsPerSubnet = 250;
    for (int i = 0; i < kFloodUrls; ++i) {
        reply.entries.push_back({kLifetime, std::string(CSimSlpAgent::kServiceType) + "://10.77." +
                                                std::to_string(kFirstSubnet + i / kHostsPerSubnet) +
                                                "." + std::to_string(1 + i % kHostsPerSubnet)});
    }
}

// A host posing as many arrays: URLs of its own address, path k, each announcing the MAC of the
// lab's array k.
constexpr int kManyMacs = 410;

std::string ManyMacsUrl(const CArrayConfig& array, int k) {
    return array.ServiceUrl() + "/" + std::to_string(k);
}

void AddManyMacs(const CArrayConfig& array, SlpSrvRply& reply) {
    for (int k = 0; k < kManyMacs; ++k) {
        reply.entries.push_back({kLifetime, ManyMacsUrl(array, k)});
    }
}

// The attributes of URL k of a host posing as many arrays; nothing for another URL.
std::optional<std::string> ManyMacsAttributes(const CArrayConfig& array, std::string_view url,
                                              std::string_view tagList) {
    const std::string prefix = array.ServiceUrl() + "/";
    if (!url.starts_with(prefix)) {
        return std::nullopt;
    }
    const int k = std::atoi(std::string(url.substr(prefix.size())).c_str());
    constexpr int kByte = 0xFF;
    char mac[32];
    std::snprintf(mac, sizeof mac, "02:4f:52:%02x:%02x:%02x", (k >> 16) & kByte, (k >> 8) & kByte,
                  k & kByte);
    CArrayConfig posed = array;
    posed.SetAttribute("mac", mac);
    return posed.AttributeList(tagList);
}

std::vector<CSimSlpAgent::Message> AnswerSrvRqst(const Context& context, const SlpSrvRqst& request,
                                                 std::size_t maxDatagram) {
    SlpHeader header = ReplyHeader(context.header);
    if (FoldWhiteSpaceLower(request.serviceType) == "service:service-agent") {
        // An empty scope list asks every agent, so that the asker learns which scopes exist.
        if (!request.scopeList.empty() && !ListHas(request.scopeList, context.array.m_strScope)) {
            if (context.multicast) {
                return {};
            }
            SlpSrvRply refusal{static_cast<std::uint16_t>(SlpWireError::ScopeNotSupported), {}};
            return One(CSlpMessageCodec::Encode(header, refusal));
        }
        SlpSAAdvert advert{"service:service-agent://" + context.array.m_strAddress,
                           context.array.m_strScope, ""};
        return One(CSlpMessageCodec::Encode(header, advert));
    }
    if (FoldWhiteSpaceLower(request.serviceType) == "service:directory-agent") {
        return {}; // not a directory agent
    }
    SlpSrvRply reply;
    if (std::optional<SlpWireError> error = Refusal(context, request.scopeList)) {
        if (context.multicast) {
            return {};
        }
        reply.errorCode = static_cast<std::uint16_t>(*error);
        return One(CSlpMessageCodec::Encode(header, reply));
    }
    std::optional<bool> matches =
        CSimPredicate::Matches(request.predicate, context.array.m_listAttributes);
    if (!matches) {
        if (context.multicast) {
            return {};
        }
        reply.errorCode = static_cast<std::uint16_t>(SlpWireError::ParseError);
        return One(CSlpMessageCodec::Encode(header, reply));
    }
    if (SameType(request.serviceType) && *matches) {
        reply.entries.push_back({kLifetime, context.array.ServiceUrl()});
        if (context.array.m_slpMode == SimSlpMode::Flood) {
            AddFlood(reply);
        } else if (context.array.m_slpMode == SimSlpMode::ManyMacs) {
            AddManyMacs(context.array, reply);
        }
    }
    if (reply.entries.empty() && context.multicast) {
        return {};
    }
    CSimSlpAgent::Message message = CSlpMessageCodec::Encode(header, reply);
    if (maxDatagram != 0 && message.size() > maxDatagram) {
        // Too large for a datagram: the array's own URL, flagged, and the rest over TCP.
        header.flags = kSlpFlagOverflow;
        reply.entries.resize(1);
        message = CSlpMessageCodec::Encode(header, reply);
    }
    return One(std::move(message));
}

std::vector<CSimSlpAgent::Message>
AnswerAttrRqst(const Context& context, const SlpAttrRqst& request, std::size_t maxDatagram) {
    SlpHeader header = ReplyHeader(context.header);
    SlpAttrRply reply;
    if (std::optional<SlpWireError> error = Refusal(context, request.scopeList)) {
        if (context.multicast) {
            return {};
        }
        reply.errorCode = static_cast<std::uint16_t>(*error);
        return One(CSlpMessageCodec::Encode(header, reply));
    }
    bool ours =
        FoldWhiteSpaceLower(request.url) == FoldWhiteSpaceLower(context.array.ServiceUrl()) ||
        SameType(request.url);
    if (context.array.m_slpMode == SimSlpMode::ManyMacs && !ours) {
        if (std::optional<std::string> posed =
                ManyMacsAttributes(context.array, request.url, request.tagList)) {
            reply.attrList = std::move(*posed);
            return One(CSlpMessageCodec::Encode(header, reply));
        }
    }
    // A flooding array keeps quiet about the URLs it made up, as their absent hosts would.
    if (!ours) {
        return context.multicast || context.array.m_slpMode == SimSlpMode::Flood
                   ? std::vector<CSimSlpAgent::Message>{}
                   : One(CSlpMessageCodec::Encode(header, reply));
    }
    reply.attrList = context.array.AttributeList(request.tagList);
    CSimSlpAgent::Message message = CSlpMessageCodec::Encode(header, reply);
    if (maxDatagram != 0 && message.size() > maxDatagram) {
        // Too large for a datagram: say so, and let the agent ask again over TCP.
        header.flags = kSlpFlagOverflow;
        reply.attrList.clear();
        message = CSlpMessageCodec::Encode(header, reply);
    }
    return One(std::move(message));
}

CSimSlpAgent::Message ParseErrorReply(const SlpHeader& request) {
    SlpHeader header = ReplyHeader(request);
    constexpr auto kCode = static_cast<std::uint16_t>(SlpWireError::ParseError);
    switch (request.function) {
    case SlpFunction::AttrRqst:
        return CSlpMessageCodec::Encode(header, SlpAttrRply{kCode, ""});
    case SlpFunction::SrvTypeRqst:
        return CSlpMessageCodec::Encode(header, SlpSrvTypeRply{kCode, ""});
    default:
        return CSlpMessageCodec::Encode(header, SlpSrvRply{kCode, {}});
    }
}

std::vector<CSimSlpAgent::Message> AnswerSrvTypeRqst(const Context& context,
                                                     const SlpSrvTypeRqst& request) {
    SlpHeader header = ReplyHeader(context.header);
    SlpSrvTypeRply reply;
    if (std::optional<SlpWireError> error = Refusal(context, request.scopeList)) {
        if (context.multicast) {
            return {};
        }
        reply.errorCode = static_cast<std::uint16_t>(*error);
        return One(CSlpMessageCodec::Encode(header, reply));
    }
    if (request.allAuthorities || request.namingAuthority.empty()) {
        reply.typeList = CSimSlpAgent::kServiceType;
    }
    if (reply.typeList.empty() && context.multicast) {
        return {};
    }
    return One(CSlpMessageCodec::Encode(header, reply));
}

} // namespace

std::vector<CSimSlpAgent::Message> CSimSlpAgent::Answer(const CArrayConfig& array,
                                                        std::span<const std::uint8_t> request,
                                                        bool multicast, std::size_t maxDatagram) {
    std::optional<SlpHeader> header = CSlpMessageCodec::DecodeHeader(request);
    if (!header) {
        return {};
    }
    Context context{array, *header, multicast};
    switch (header->function) {
    case SlpFunction::SrvRqst: {
        std::optional<SlpSrvRqst> body = CSlpMessageCodec::DecodeSrvRqst(request, *header);
        if (!body) {
            break;
        }
        if (ListHas(body->prList, array.m_strAddress)) {
            return {};
        }
        return AnswerSrvRqst(context, *body, maxDatagram);
    }
    case SlpFunction::AttrRqst: {
        std::optional<SlpAttrRqst> body = CSlpMessageCodec::DecodeAttrRqst(request, *header);
        if (!body) {
            break;
        }
        if (ListHas(body->prList, array.m_strAddress) || array.m_slpMode == SimSlpMode::NoAttrs) {
            return {};
        }
        return AnswerAttrRqst(context, *body, maxDatagram);
    }
    case SlpFunction::SrvTypeRqst: {
        std::optional<SlpSrvTypeRqst> body = CSlpMessageCodec::DecodeSrvTypeRqst(request, *header);
        if (!body) {
            break;
        }
        if (ListHas(body->prList, array.m_strAddress)) {
            return {};
        }
        return AnswerSrvTypeRqst(context, *body);
    }
    default:
        return {};
    }
    // A request that could not be read: a unicast sender hears why, in the reply it waits for.
    if (multicast) {
        return {};
    }
    return One(ParseErrorReply(*header));
}

std::vector<CSimSlpAgent::Message> CSimSlpAgent::Garbage(std::span<const std::uint8_t> request) {
    std::optional<SlpHeader> header = CSlpMessageCodec::DecodeHeader(request);
    if (!header) {
        return {};
    }
    SlpHeader reply = ReplyHeader(*header);
    SlpFunction replyFunction =
        header->function == SlpFunction::AttrRqst ? SlpFunction::AttrRply : SlpFunction::SrvRply;
    std::vector<Message> out;
    SlpSrvRply good{0, {{kLifetime, "service:raid.004417://192.0.2.1"}}};
    Message valid = CSlpMessageCodec::Encode(reply, good);
    if (replyFunction == SlpFunction::AttrRply) {
        valid = CSlpMessageCodec::Encode(reply, SlpAttrRply{0, "(mac=\\zz),(hostname=\\4"});
        out.push_back(valid); // well framed, but its escapes are broken
    }
    out.push_back(Message(valid.begin(), valid.begin() + static_cast<long>(valid.size() / 2)));
    Message wrongVersion = valid;
    wrongVersion[0] = 1;
    out.push_back(wrongVersion);
    Message wrongFunction = valid;
    wrongFunction[1] = static_cast<std::uint8_t>(SlpFunction::DAAdvert);
    out.push_back(wrongFunction);
    Message foreignXid = valid;
    foreignXid[10] = static_cast<std::uint8_t>(foreignXid[10] ^ 0x5A);
    out.push_back(foreignXid);
    Message longLength = valid;
    longLength[2] = 0x7F;
    out.push_back(longLength);
    // A reply that claims 65,535 URL entries in 40 bytes.
    Message manyUrls = CSlpMessageCodec::Encode(reply, SlpSrvRply{0, {}});
    manyUrls[1] = static_cast<std::uint8_t>(replyFunction);
    manyUrls.resize(40, 0x41);
    manyUrls[2] = 0;
    manyUrls[3] = 0;
    manyUrls[4] = 40;
    std::size_t body = 14 + reply.language.size();
    manyUrls[body + 2] = 0xFF;
    manyUrls[body + 3] = 0xFF;
    out.push_back(manyUrls);
    out.push_back(Message{0xFF, 0x00, 0x13});
    return out;
}
