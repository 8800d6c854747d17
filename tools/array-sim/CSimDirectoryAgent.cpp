// The directory agent test double: registrations in a map by URL, answers built from it.
#include "tools/array-sim/CSimDirectoryAgent.h"

#include "platform/slp/CSlpAttrList.h"
#include "platform/slp/CSlpMessageCodec.h"
#include "platform/slp/CSlpServiceUrl.h"
#include "platform/text/TextUtil.h"
#include "tools/array-sim/CSimPredicate.h"

#include <algorithm>
#include <optional>

namespace {

constexpr const char* kDirectoryAgentType = "service:directory-agent";
constexpr std::size_t kUrlEntryOverhead = 6; // reserved, lifetime, length, auth count
constexpr std::size_t kMaxUrlEntries = 0xFFFF;

bool ListHas(std::string_view list, std::string_view item) {
    const std::string wanted = FoldWhiteSpaceLower(item);
    for (std::string_view entry : SplitList(list)) {
        if (FoldWhiteSpaceLower(entry) == wanted) {
            return true;
        }
    }
    return false;
}

std::string PrimaryLanguage(std::string_view tag) {
    std::string folded = FoldWhiteSpaceLower(tag);
    return folded.substr(0, folded.find('-'));
}

// Whether a requested type names the registered one: the same, or its name without the
// "service:" that every registered type carries.
bool TypeMatches(std::string_view requested, const std::string& registered) {
    const std::string type = FoldWhiteSpaceLower(requested);
    return type == registered || "service:" + type == registered;
}

SlpHeader ReplyHeader(const SlpHeader& request) {
    SlpHeader header;
    header.xid = request.xid;
    header.language = request.language;
    return header;
}

std::string Unescaped(std::string_view raw) {
    return CSlpAttrList::Unescape(raw).value_or(std::string(raw));
}

// The attributes as plain pairs, for search filters.
CSimPredicate::Attributes Pairs(const std::string& attrList) {
    CSimPredicate::Attributes pairs;
    for (const SlpAttribute& attr :
         CSlpAttrList::Parse(attrList).value_or(std::vector<SlpAttribute>{})) {
        pairs.emplace_back(Unescaped(attr.tag), attr.value ? Unescaped(*attr.value) : "");
    }
    return pairs;
}

// A list whose every part reads and whose every escape is sound.
bool WellFormed(const std::string& attrList) {
    std::optional<std::vector<SlpAttribute>> attrs = CSlpAttrList::Parse(attrList);
    return attrs && std::all_of(attrs->begin(), attrs->end(), [](const SlpAttribute& attr) {
               return CSlpAttrList::Unescape(attr.tag) &&
                      (!attr.value || CSlpAttrList::Unescape(*attr.value));
           });
}

std::string Join(const std::vector<SlpAttribute>& attrs) {
    std::string list;
    for (const SlpAttribute& attr : attrs) {
        if (!list.empty()) {
            list += ',';
        }
        list += attr.value ? '(' + attr.tag + '=' + *attr.value + ')' : attr.tag;
    }
    return list;
}

std::string Selected(const std::string& attrList, std::string_view tagList) {
    std::vector<SlpAttribute> attrs =
        CSlpAttrList::Parse(attrList).value_or(std::vector<SlpAttribute>{});
    std::erase_if(attrs, [tagList](const SlpAttribute& attr) {
        return !CSlpAttrList::TagSelected(tagList, Unescaped(attr.tag));
    });
    return Join(attrs);
}

// An update without the fresh flag: its attributes replace those of the same tag.
std::string Merged(const std::string& current, const std::string& update) {
    std::vector<SlpAttribute> attrs =
        CSlpAttrList::Parse(current).value_or(std::vector<SlpAttribute>{});
    for (const SlpAttribute& attr :
         CSlpAttrList::Parse(update).value_or(std::vector<SlpAttribute>{})) {
        auto same = std::find_if(attrs.begin(), attrs.end(), [&attr](const SlpAttribute& known) {
            return CSlpAttrList::TagsEqual(known.tag, attr.tag);
        });
        if (same != attrs.end()) {
            *same = attr;
        } else {
            attrs.push_back(attr);
        }
    }
    return Join(attrs);
}

std::uint16_t SecondsLeft(CSimDirectoryAgent::Clock::time_point expires,
                          CSimDirectoryAgent::Clock::time_point now) {
    const auto left = std::chrono::ceil<std::chrono::seconds>(expires - now).count();
    return static_cast<std::uint16_t>(std::clamp<long long>(left, 1, 0xFFFF));
}

} // namespace

CSimDirectoryAgent::CSimDirectoryAgent(std::string address, std::string scope,
                                       std::uint32_t bootTimestamp)
    : m_strAddress(std::move(address)), m_strScope(std::move(scope)),
      m_nBootTimestamp(bootTimestamp) {}

bool CSimDirectoryAgent::ServesAll(std::string_view scopeList) const {
    const std::vector<std::string_view> scopes = SplitList(scopeList);
    return !scopes.empty() && std::all_of(scopes.begin(), scopes.end(), [this](std::string_view s) {
        return FoldWhiteSpaceLower(s) == FoldWhiteSpaceLower(m_strScope);
    });
}

bool CSimDirectoryAgent::ServesAny(std::string_view scopeList) const {
    return ListHas(scopeList, m_strScope);
}

CSimDirectoryAgent::Message CSimDirectoryAgent::Advert(bool goingDown) const {
    SlpHeader header;
    header.flags = kSlpFlagMulticast;
    SlpDAAdvert advert{0, goingDown ? 0 : m_nBootTimestamp, Url(), m_strScope, "", ""};
    return CSlpMessageCodec::Encode(header, advert);
}

void CSimDirectoryAgent::Expire(Clock::time_point now) {
    std::erase_if(m_mapRegistrations,
                  [now](const auto& entry) { return entry.second.expires <= now; });
}

CSimDirectoryAgent::Message CSimDirectoryAgent::OnSrvRqst(const SlpHeader& header,
                                                          const SlpSrvRqst& request, bool multicast,
                                                          std::size_t maxDatagram,
                                                          Clock::time_point now) const {
    SlpHeader reply = ReplyHeader(header);
    if (FoldWhiteSpaceLower(request.serviceType) == kDirectoryAgentType) {
        // Discovery without scopes asks every agent, to learn which scopes there are.
        const bool shared = request.scopeList.empty() || ServesAny(request.scopeList);
        if (!shared && multicast) {
            return {};
        }
        SlpDAAdvert advert{0, m_nBootTimestamp, Url(), m_strScope, "", ""};
        if (!shared) {
            advert.errorCode = static_cast<std::uint16_t>(SlpWireError::ScopeNotSupported);
        }
        return CSlpMessageCodec::Encode(reply, advert);
    }
    if (multicast) {
        return {};
    }
    SlpSrvRply answer;
    if (!ServesAll(request.scopeList)) {
        answer.errorCode = static_cast<std::uint16_t>(SlpWireError::ScopeNotSupported);
        return CSlpMessageCodec::Encode(reply, answer);
    }
    if (!CSimPredicate::Matches(request.predicate, {})) {
        answer.errorCode = static_cast<std::uint16_t>(SlpWireError::ParseError);
        return CSlpMessageCodec::Encode(reply, answer);
    }
    const std::string language = PrimaryLanguage(header.language);
    std::size_t size = kSlpFixedHeaderSize + header.language.size() + 4;
    for (const auto& [url, registration] : m_mapRegistrations) {
        if (registration.expires <= now || registration.language != language ||
            !TypeMatches(request.serviceType, registration.type) ||
            (!request.predicate.empty() &&
             CSimPredicate::Matches(request.predicate, Pairs(registration.attrList)) != true)) {
            continue;
        }
        size += url.size() + kUrlEntryOverhead;
        if ((maxDatagram != 0 && size > maxDatagram) || answer.entries.size() == kMaxUrlEntries) {
            // Too much for one message: say so, with what fits, and let the asker use TCP.
            reply.flags = kSlpFlagOverflow;
            break;
        }
        answer.entries.push_back({SecondsLeft(registration.expires, now), url});
    }
    return CSlpMessageCodec::Encode(reply, answer);
}

CSimDirectoryAgent::Message CSimDirectoryAgent::OnAttrRqst(const SlpHeader& header,
                                                           const SlpAttrRqst& request,
                                                           std::size_t maxDatagram,
                                                           Clock::time_point now) const {
    SlpHeader reply = ReplyHeader(header);
    SlpAttrRply answer;
    if (!ServesAll(request.scopeList)) {
        answer.errorCode = static_cast<std::uint16_t>(SlpWireError::ScopeNotSupported);
        return CSlpMessageCodec::Encode(reply, answer);
    }
    auto found = m_mapRegistrations.find(request.url);
    if (found != m_mapRegistrations.end() && found->second.expires > now &&
        found->second.language == PrimaryLanguage(header.language)) {
        answer.attrList = Selected(found->second.attrList, request.tagList);
    }
    Message message = CSlpMessageCodec::Encode(reply, answer);
    if (maxDatagram != 0 && message.size() > maxDatagram) {
        reply.flags = kSlpFlagOverflow;
        answer.attrList.clear();
        message = CSlpMessageCodec::Encode(reply, answer);
    }
    return message;
}

SlpWireError CSimDirectoryAgent::OnSrvReg(const SlpHeader& header, const SlpSrvReg& request,
                                          Clock::time_point now) {
    if (!ServesAll(request.scopeList)) {
        return SlpWireError::ScopeNotSupported;
    }
    if (!m_strAdvertHost.empty()) {
        return SlpWireError::Ok; // forged: acknowledged and dropped
    }
    if (request.entry.lifetime == 0 || !CSlpServiceUrl::Parse(request.entry.url) ||
        !StartsWithNoCase(request.serviceType, "service:") || !WellFormed(request.attrList)) {
        return SlpWireError::InvalidRegistration;
    }
    const auto expires = now + std::chrono::seconds(request.entry.lifetime);
    auto known = m_mapRegistrations.find(request.entry.url);
    if ((header.flags & kSlpFlagFresh) != 0) {
        m_mapRegistrations[request.entry.url] =
            Registration{FoldWhiteSpaceLower(request.serviceType), PrimaryLanguage(header.language),
                         request.attrList, expires};
        return SlpWireError::Ok;
    }
    // An update adds to a registration that exists, of the same type.
    if (known == m_mapRegistrations.end() || known->second.expires <= now ||
        known->second.type != FoldWhiteSpaceLower(request.serviceType)) {
        return SlpWireError::InvalidUpdate;
    }
    known->second.attrList = Merged(known->second.attrList, request.attrList);
    known->second.expires = expires;
    return SlpWireError::Ok;
}

SlpWireError CSimDirectoryAgent::OnSrvDeReg(const SlpSrvDeReg& request) {
    if (!ServesAll(request.scopeList)) {
        return SlpWireError::ScopeNotSupported;
    }
    auto known = m_mapRegistrations.find(request.entry.url);
    if (known == m_mapRegistrations.end()) {
        return SlpWireError::InvalidRegistration;
    }
    if (request.tagList.empty()) {
        m_mapRegistrations.erase(known);
        return SlpWireError::Ok;
    }
    std::vector<SlpAttribute> attrs =
        CSlpAttrList::Parse(known->second.attrList).value_or(std::vector<SlpAttribute>{});
    std::erase_if(attrs, [&request](const SlpAttribute& attr) {
        return CSlpAttrList::TagSelected(request.tagList, Unescaped(attr.tag));
    });
    known->second.attrList = Join(attrs);
    return SlpWireError::Ok;
}

std::vector<CSimDirectoryAgent::Message>
CSimDirectoryAgent::Answer(std::span<const std::uint8_t> request, bool multicast,
                           std::size_t maxDatagram, Clock::time_point now) {
    std::optional<SlpHeader> header = CSlpMessageCodec::DecodeHeader(request);
    if (!header) {
        return {};
    }
    Message reply;
    auto ack = [&header](SlpWireError error) {
        return CSlpMessageCodec::Encode(ReplyHeader(*header),
                                        SlpSrvAck{static_cast<std::uint16_t>(error)});
    };
    switch (header->function) {
    case SlpFunction::SrvRqst:
        if (auto body = CSlpMessageCodec::DecodeSrvRqst(request, *header)) {
            if (ListHas(body->prList, m_strAddress)) {
                return {};
            }
            reply = OnSrvRqst(*header, *body, multicast, maxDatagram, now);
        } else if (!multicast) {
            reply = CSlpMessageCodec::Encode(
                ReplyHeader(*header),
                SlpSrvRply{static_cast<std::uint16_t>(SlpWireError::ParseError), {}});
        }
        break;
    case SlpFunction::AttrRqst:
        if (multicast) {
            return {};
        }
        if (auto body = CSlpMessageCodec::DecodeAttrRqst(request, *header)) {
            reply = OnAttrRqst(*header, *body, maxDatagram, now);
        } else {
            reply = CSlpMessageCodec::Encode(
                ReplyHeader(*header),
                SlpAttrRply{static_cast<std::uint16_t>(SlpWireError::ParseError), ""});
        }
        break;
    case SlpFunction::SrvReg:
        if (!multicast) {
            auto body = CSlpMessageCodec::DecodeSrvReg(request, *header);
            reply = ack(body ? OnSrvReg(*header, *body, now) : SlpWireError::ParseError);
        }
        break;
    case SlpFunction::SrvDeReg:
        if (!multicast) {
            auto body = CSlpMessageCodec::DecodeSrvDeReg(request, *header);
            reply = ack(body ? OnSrvDeReg(*body) : SlpWireError::ParseError);
        }
        break;
    default:
        break;
    }
    if (reply.empty()) {
        return {};
    }
    return {std::move(reply)};
}
