// Feeds arbitrary bytes to everything that reads SLP data from the network: the header and
// every body decoder, the attribute-list parser and unescaper, the service URL parser, the
// finder's printing of received text, and the simulator's service agent, directory agent and
// search filters.
// The first byte picks how the rest is used.
#include "platform/slp/CSlpAttrList.h"
#include "platform/slp/CSlpMessageCodec.h"
#include "platform/slp/slp.h"
#include "tools/array-sim/CSimDirectoryAgent.h"
#include "tools/array-sim/CSimPredicate.h"
#include "tools/array-sim/CSimSlpAgent.h"
#include "platform/text/TextEscape.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace {

void Messages(std::span<const std::uint8_t> bytes) {
    auto header = CSlpMessageCodec::DecodeHeader(bytes);
    if (!header) {
        return;
    }
    if (auto reply = CSlpMessageCodec::DecodeSrvRply(bytes, *header)) {
        for (const SlpUrlEntry& entry : reply->entries) {
            SLPSrvURL* url = nullptr;
            if (SLPParseSrvURL(entry.url.c_str(), &url) == SLP_OK) {
                SLPFree(url);
            }
        }
    }
    if (auto reply = CSlpMessageCodec::DecodeAttrRply(bytes, *header)) {
        CSlpAttrList::Find(reply->attrList, "mac");
    }
    CSlpMessageCodec::DecodeDAAdvert(bytes, *header);
    CSlpMessageCodec::DecodeSAAdvert(bytes, *header);
    CSlpMessageCodec::DecodeSrvRqst(bytes, *header);
    CSlpMessageCodec::DecodeAttrRqst(bytes, *header);
    CSlpMessageCodec::DecodeSrvTypeRqst(bytes, *header);
    CSlpMessageCodec::DecodeSrvTypeRply(bytes, *header);
    CSlpMessageCodec::DecodeSrvReg(bytes, *header);
    CSlpMessageCodec::DecodeSrvDeReg(bytes, *header);
    CSlpMessageCodec::DecodeSrvAck(bytes, *header);
}

void Text(std::string_view text) {
    CSlpAttrList::Parse(text);
    CSlpAttrList::Unescape(text);
    std::string list(text);
    char* value = nullptr;
    if (SLPParseAttrs(list.c_str(), "mac", &value) == SLP_OK) {
        SLPFree(value);
    }
    CSlpAttrList::TagSelected(text, "hostname");
    EscapeForTerminal(text);
    CSimPredicate::Matches(text, {{"hostname", "a"}, {"version", "12"}});
    SLPSrvURL* url = nullptr;
    if (SLPParseSrvURL(list.c_str(), &url) == SLP_OK) {
        SLPFree(url);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::span<const std::uint8_t> rest(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0:
        Messages(rest);
        break;
    case 1:
        Text(std::string_view(reinterpret_cast<const char*>(rest.data()), rest.size()));
        break;
    default: {
        CArrayConfig array;
        array.m_strAddress = "10.77.1.1";
        array.SetAttribute("mac", "02:00:00:00:00:01");
        CSimSlpAgent::Answer(array, rest, (data[0] & 4) != 0, 1372);
        CSimSlpAgent::Garbage(rest);
        CSimDirectoryAgent directory("10.77.0.2", "default", 1);
        const auto now = CSimDirectoryAgent::Clock::now();
        directory.Answer(rest, (data[0] & 4) != 0, 1372, now);
        directory.Answer(rest, false, 0, now);
        break;
    }
    }
    return 0;
}
