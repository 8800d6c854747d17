// The simulator's service agent, directory agent, registrations, HTTP logic and option
// parsing, without a network.
#include "platform/slp/CSlpAttrList.h"
#include "platform/slp/CSlpMessageCodec.h"
#include "platform/text/Base64.h"
#include "tests/support/Hex.h"
#include "tools/array-sim/CSimDirectoryAgent.h"
#include "tools/array-sim/CSimHttpResponder.h"
#include "tools/array-sim/CSimOptions.h"
#include "tools/array-sim/CSimPasswordPush.h"
#include "tools/array-sim/CSimPredicate.h"
#include "tools/array-sim/CSimRegistrar.h"
#include "tools/array-sim/CSimSlpAgent.h"

#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>

namespace {

CArrayConfig Array() {
    CArrayConfig array;
    array.m_strAddress = "10.77.1.1";
    array.SetAttribute("mac", "02:4f:52:00:00:01");
    array.SetAttribute("hostname", "a,b (c)\\d");
    array.SetAttribute("product", "Z210");
    array.m_strAdminPassword = "secret";
    return array;
}

std::vector<std::uint8_t> SrvRqst(std::string prList, std::string type = "service:raid.004417",
                                  std::string scope = "default", std::string language = "en") {
    SlpHeader header;
    header.xid = 77;
    header.flags = kSlpFlagMulticast;
    header.language = std::move(language);
    return CSlpMessageCodec::Encode(
        header, SlpSrvRqst{std::move(prList), std::move(type), std::move(scope), "", ""});
}

std::vector<std::uint8_t> AttrRqst(std::string url, std::string tags = "") {
    SlpHeader header;
    header.xid = 78;
    return CSlpMessageCodec::Encode(
        header, SlpAttrRqst{"", std::move(url), "default", std::move(tags), ""});
}

// The message without its last bytes, its length field rewritten to match: a request whose
// header reads well and whose body does not.
std::vector<std::uint8_t> Cut(std::vector<std::uint8_t> message, std::size_t drop) {
    message.resize(message.size() - drop);
    message[2] = static_cast<std::uint8_t>(message.size() >> 16);
    message[3] = static_cast<std::uint8_t>(message.size() >> 8);
    message[4] = static_cast<std::uint8_t>(message.size());
    return message;
}

SlpHeader HeaderOf(const std::vector<std::uint8_t>& message) {
    auto header = CSlpMessageCodec::DecodeHeader(message);
    EXPECT_TRUE(header);
    return header.value_or(SlpHeader{});
}

std::string Login(const std::string& credentials, std::string body = "op=query&query=0") {
    return "POST /api/tarvik_storage_server_x.php HTTP/1.1\r\nHost: a\r\n"
           "Authorization:Basic " +
           Base64Encode(credentials) +
           "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

int Status(const CSimHttpResponder::Result& result) {
    return result.response.size() > 12 ? std::stoi(result.response.substr(9, 3)) : 0;
}

} // namespace

namespace {

// What the agent sent back, in a few words: "none", or the kind of reply with the XID it echoes,
// its error code and the URLs it lists.
std::string Outcome(const std::vector<std::vector<std::uint8_t>>& replies) {
    if (replies.size() != 1) {
        return replies.empty() ? "none" : std::to_string(replies.size()) + " replies";
    }
    const std::vector<std::uint8_t>& reply = replies[0];
    const SlpHeader header = HeaderOf(reply);
    const std::string xid = " xid=" + std::to_string(header.xid);
    switch (header.function) {
    case SlpFunction::SrvRply: {
        const auto body = CSlpMessageCodec::DecodeSrvRply(reply, header);
        std::string text = "SrvRply" + xid;
        text += body ? " error=" + std::to_string(body->errorCode) : " unreadable";
        for (const SlpUrlEntry& entry : body ? body->entries : std::vector<SlpUrlEntry>{}) {
            text += " " + entry.url;
        }
        return text;
    }
    case SlpFunction::AttrRply: {
        const auto body = CSlpMessageCodec::DecodeAttrRply(reply, header);
        return "AttrRply" + xid + (body ? " error=" + std::to_string(body->errorCode) : "");
    }
    case SlpFunction::SrvTypeRply: {
        const auto body = CSlpMessageCodec::DecodeSrvTypeRply(reply, header);
        return "SrvTypeRply" + xid + (body ? " error=" + std::to_string(body->errorCode) : "");
    }
    case SlpFunction::SAAdvert:
        return CSlpMessageCodec::DecodeSAAdvert(reply, header) ? "SAAdvert" + xid : "unreadable";
    default:
        return "function " + std::to_string(static_cast<int>(header.function));
    }
}

} // namespace

TEST(SimSlpAgent, RequestsGetTheirAnswerOrSilence) {
    // Error codes: 1 language not supported, 2 parse error, 4 scope not supported. Multicast
    // requests that the agent cannot serve go unanswered; unicast ones are told why.
    const CArrayConfig array = Array();
    const std::string kRaid = "service:raid.004417";
    const std::string kSa = "service:service-agent";
    const std::string kFound = "SrvRply xid=77 error=0 service:raid.004417://10.77.1.1";
    SlpHeader typeHeader;
    typeHeader.xid = 79;
    const struct {
        std::vector<std::uint8_t> request;
        bool bMulticast;
        std::string outcome;
    } cases[] = {
        {SrvRqst(""), true, kFound},
        {SrvRqst("", "SERVICE:RAID.004417"), true, kFound},
        // Already listed among the previous responders; an address it merely begins is not.
        {SrvRqst("10.77.1.9,10.77.1.1"), true, "none"},
        {SrvRqst("10.77.1.10"), true, kFound},
        {SrvRqst("", "service:printer"), true, "none"},
        {SrvRqst("", "service:directory-agent"), true, "none"},
        {SrvRqst("", kRaid, "other"), true, "none"},
        {SrvRqst("", kRaid, "other"), false, "SrvRply xid=77 error=4"},
        {SrvRqst("", kRaid, "default", "fr"), false, "SrvRply xid=77 error=1"},
        // The service agent's advert needs a shared scope anywhere in the list, or no list at
        // all (the asker wants to learn the scopes there are).
        {SrvRqst("", kSa), true, "SAAdvert xid=77"},
        {SrvRqst("", kSa, "other, DEFAULT"), true, "SAAdvert xid=77"},
        {SrvRqst("", kSa, ""), true, "SAAdvert xid=77"},
        {SrvRqst("", kSa, "other"), true, "none"},
        {SrvRqst("", kSa, "other"), false, "SrvRply xid=77 error=4"},
        // A malformed request is answered in its own kind.
        {Cut(AttrRqst(array.ServiceUrl()), 6), true, "none"},
        {Cut(AttrRqst(array.ServiceUrl()), 6), false, "AttrRply xid=78 error=2"},
        {Cut(CSlpMessageCodec::Encode(typeHeader, SlpSrvTypeRqst{"", true, "", "x"}), 2), false,
         "SrvTypeRply xid=79 error=2"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Outcome(CSimSlpAgent::Answer(array, c.request, c.bMulticast, 1372)), c.outcome)
            << ToHex(c.request) << (c.bMulticast ? " multicast" : " unicast");
    }
}

TEST(SimSlpAgent, AttributesAreEscapedSelectedAndOverflowFlagged) {
    CArrayConfig array = Array();
    auto replies = CSimSlpAgent::Answer(array, AttrRqst(array.ServiceUrl()), false, 1372);
    ASSERT_EQ(replies.size(), 1u);
    auto reply = CSlpMessageCodec::DecodeAttrRply(replies[0], HeaderOf(replies[0]));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->attrList,
              "(mac=02:4f:52:00:00:01),(hostname=a\\2Cb \\28c\\29\\5Cd),(product=Z210)");
    EXPECT_EQ(CSlpAttrList::Find(reply->attrList, "hostname"), "a,b (c)\\d");
    EXPECT_EQ(CSlpAttrList::Find(reply->attrList, "type"), std::nullopt);

    replies = CSimSlpAgent::Answer(array, AttrRqst(array.ServiceUrl(), "mac,prod*"), false, 1372);
    reply = CSlpMessageCodec::DecodeAttrRply(replies.at(0), HeaderOf(replies[0]));
    EXPECT_EQ(reply->attrList, "(mac=02:4f:52:00:00:01),(product=Z210)");

    EXPECT_TRUE(
        CSimSlpAgent::Answer(array, AttrRqst("service:raid.004417://10.77.1.2"), true, 0).empty());

    array.SetAttribute("product", std::string(3000, 'p'));
    replies = CSimSlpAgent::Answer(array, AttrRqst(array.ServiceUrl()), false, 1372);
    SlpHeader header = HeaderOf(replies.at(0));
    EXPECT_TRUE(header.Overflow());
    EXPECT_LE(replies[0].size(), 1372u);
    replies = CSimSlpAgent::Answer(array, AttrRqst(array.ServiceUrl()), false, 0);
    EXPECT_FALSE(HeaderOf(replies.at(0)).Overflow());
}

TEST(SimSlpAgent, GarbageIsRejectedByTheDecoders) {
    for (const auto& request : {SrvRqst(""), AttrRqst("service:raid.004417://10.77.1.1")}) {
        SlpHeader sent = HeaderOf(request);
        for (const auto& junk : CSimSlpAgent::Garbage(request)) {
            auto header = CSlpMessageCodec::DecodeHeader(junk);
            if (!header || header->xid != sent.xid) {
                continue;
            }
            if (header->function == SlpFunction::SrvRply) {
                EXPECT_FALSE(CSlpMessageCodec::DecodeSrvRply(junk, *header));
            } else if (header->function == SlpFunction::AttrRply) {
                auto reply = CSlpMessageCodec::DecodeAttrRply(junk, *header);
                if (reply) {
                    EXPECT_FALSE(CSlpAttrList::Find(reply->attrList, "mac"));
                }
            }
        }
    }
    EXPECT_TRUE(
        CSimSlpAgent::Answer(Array(), std::vector<std::uint8_t>{2, 1, 0}, false, 0).empty());
}

TEST(SimHttpResponder, LoginAnswersByCredentialsAndMode) {
    CArrayConfig array = Array();
    EXPECT_EQ(Status(CSimHttpResponder::Handle(array, Login("admin:secret"))), 200);
    EXPECT_EQ(Status(CSimHttpResponder::Handle(array, Login("admin:wrong"))), 401);
    EXPECT_EQ(Status(CSimHttpResponder::Handle(array, Login("root:secret"))), 401);
    EXPECT_EQ(Status(CSimHttpResponder::Handle(array, Login("admin:secret", "op=other"))), 400);
    std::string noAuth = "POST /api/tarvik_storage_server_x.php HTTP/1.0\r\n\r\n";
    EXPECT_EQ(Status(CSimHttpResponder::Handle(array, noAuth)), 401);
    EXPECT_EQ(Status(CSimHttpResponder::Handle(array, "GET /other HTTP/1.0\r\n\r\n")), 404);

    array.m_httpMode = SimHttpMode::NotFound;
    EXPECT_EQ(Status(CSimHttpResponder::Handle(array, Login("admin:secret"))), 404);
    array.m_httpMode = SimHttpMode::Status;
    array.m_nHttpStatus = 503;
    EXPECT_EQ(Status(CSimHttpResponder::Handle(array, Login("admin:secret"))), 503);
    array.m_httpMode = SimHttpMode::Oversize;
    auto big = CSimHttpResponder::Handle(array, Login("admin:secret"));
    EXPECT_EQ(Status(big), 200);
    EXPECT_GT(big.response.size(), 81919u);
    array.m_httpMode = SimHttpMode::Silent;
    EXPECT_EQ(CSimHttpResponder::Handle(array, Login("admin:secret")).state,
              CSimHttpResponder::State::Ignore);
}

TEST(SimHttpResponder, WaitsForTheWholeRequestAndRefusesJunk) {
    CArrayConfig array = Array();
    std::string login = Login("admin:secret");
    for (std::size_t cut : {std::size_t{0}, std::size_t{10}, login.size() - 1}) {
        EXPECT_EQ(CSimHttpResponder::Handle(array, login.substr(0, cut)).state,
                  CSimHttpResponder::State::NeedMore);
    }
    EXPECT_EQ(Status(CSimHttpResponder::Handle(array, "GARBAGE\r\n\r\n")), 400);
    EXPECT_EQ(Status(CSimHttpResponder::Handle(
                  array, "POST / HTTP/1.0\r\nContent-Length: 99999999999\r\n\r\n")),
              400);
    EXPECT_EQ(Status(CSimHttpResponder::Handle(array, std::string(70000, 'a'))), 400);
}

TEST(SimOptions, ParsesArraysAndRejectsBadFlags) {
    CSimOptions options;
    EXPECT_FALSE(options.Parse({"--address", "10.0.0.2", "--mac=aa", "--type", "SAN"}));
    ASSERT_EQ(options.m_arrArrays.size(), 1u);
    EXPECT_EQ(options.m_arrArrays[0].Attribute("mac"), "aa");
    EXPECT_EQ(options.m_arrArrays[0].Attribute("model"), std::nullopt);
    CSimOptions proxy;
    EXPECT_FALSE(proxy.Parse({"--address", "10.0.0.2", "--url-host", "10.0.0.7"}));
    ASSERT_EQ(proxy.m_arrArrays.size(), 1u);
    EXPECT_EQ(proxy.m_arrArrays[0].ServiceUrl(), "service:raid.004417://10.0.0.7");
    EXPECT_EQ(CSimOptions().Parse({"--address", "10.0.0.2", "--url-host", "h"}),
              "--url-host needs an IPv4 address, not \"h\"");

    EXPECT_EQ(CSimOptions().Parse({"--bogus", "1"}), "unknown option --bogus (see --help)");
    EXPECT_EQ(CSimOptions().Parse({"--address"}), "option --address needs a value");
    EXPECT_TRUE(CSimOptions().Parse({"--address", "not-an-ip"}));
    EXPECT_TRUE(CSimOptions().Parse({"--mac", "aa"})); // no address
    EXPECT_TRUE(CSimOptions().Parse({"--address", "10.0.0.2", "--http-status", "42"}));
    for (const char* delay : {"-1", "60001", "1s"}) {
        EXPECT_TRUE(CSimOptions().Parse({"--address", "10.0.0.2", "--http-delay-ms", delay}))
            << delay;
    }
    CSimOptions slow;
    EXPECT_FALSE(slow.Parse({"--address", "10.0.0.2", "--http-delay-ms", "1500"}));
    EXPECT_EQ(slow.m_arrArrays.at(0).m_httpDelay, std::chrono::milliseconds(1500));
    EXPECT_TRUE(CSimOptions().Parse({"--address", "10.0.0.2", "--slp-mode", "loud"}));
    EXPECT_TRUE(CSimOptions().Parse({"--address", "10.0.0.2", "--push-password", "x"}));
    EXPECT_TRUE(CSimOptions().Parse({"--arrays", "/nonexistent/arrays"}));
    CSimOptions help;
    EXPECT_FALSE(help.Parse({"--help"}));
    EXPECT_TRUE(help.m_bHelp);

    CArrayConfig omitted;
    omitted.Apply("type", "SAN");
    omitted.Apply("model", "Arvo");
    omitted.Apply("mac", "m");
    omitted.Apply("omit", "type,model");
    EXPECT_EQ(omitted.AttributeList(""), "(mac=m)");
}

TEST(SimOptions, SplitsArraysFileLines) {
    EXPECT_EQ(CSimOptions::SplitLine("--a 'x, (y) \\z' --b \"q\\\"r\" c\\ d"),
              (std::vector<std::string>{"--a", "x, (y) \\z", "--b", "q\"r", "c d"}));
    EXPECT_EQ(CSimOptions::SplitLine("--a ''"), (std::vector<std::string>{"--a", ""}));
    EXPECT_FALSE(CSimOptions::SplitLine("--a 'open"));
    EXPECT_FALSE(CSimOptions::SplitLine("--a \"open"));
    EXPECT_FALSE(CSimOptions::SplitLine("--a x\\"));
}

TEST(SimPasswordPush, RequestNamesTheMacAndCarriesThePassword) {
    EXPECT_EQ(CSimPasswordPush::Request("02:4f", "n3w pass"),
              "POST /UpdateAdminPasswd?02:4f HTTP/1.0\r\nContent-Type: text/plain\r\n"
              "Content-Length: 10\r\n\r\nn3w pass\r\n");
}

TEST(SimPredicate, EvaluatesSearchFilters) {
    CSimPredicate::Attributes attrs{
        {"vendor", "Tarvik Networks"}, {"model", "Arvo"}, {"version", "12"}, {"hostname", "a,b"}};
    auto match = [&](const char* filter) { return CSimPredicate::Matches(filter, attrs); };
    EXPECT_EQ(match(""), true);
    EXPECT_EQ(match("(model=arvo)"), true);
    EXPECT_EQ(match("(model=Belen)"), false);
    EXPECT_EQ(match("(vendor=Tarvik*)"), true);
    EXPECT_EQ(match("(vendor=*net*)"), true);
    EXPECT_EQ(match("(type=*)"), false);
    EXPECT_EQ(match("(mac=*)"), false);
    EXPECT_EQ(match("(model=*)"), true);
    EXPECT_EQ(match("(version>=9)"), true); // numbers compare by value
    EXPECT_EQ(match("(version<=9)"), false);
    EXPECT_EQ(match("(hostname=a\\2Cb)"), true); // values in filters are escaped too
    EXPECT_EQ(match("(hostname=a,b)"), true);
    EXPECT_EQ(match("(&(model=Arvo)(!(type=*)))"), true);
    EXPECT_EQ(match("(|(model=Belen)(model=Corra))"), false);
    for (const char* bad : {"model=Arvo", "(model=Arvo", "(&)", "(=x)", "(model=Arvo))",
                            "(!(a=1)(b=2))", "(a=\\zz)"}) {
        EXPECT_EQ(CSimPredicate::Matches(bad, attrs), std::nullopt) << bad;
    }
    std::string deep(200, '(');
    EXPECT_EQ(CSimPredicate::Matches(deep, attrs), std::nullopt);
}

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> Registration(const std::string& url, std::uint16_t lifetime,
                                       std::string attrs, bool fresh = true,
                                       std::string scope = "default") {
    SlpHeader header;
    header.xid = 5;
    header.flags = fresh ? kSlpFlagFresh : 0;
    return CSlpMessageCodec::Encode(
        header,
        SlpSrvReg{{lifetime, url}, "service:raid.004417", std::move(scope), std::move(attrs)});
}

std::uint16_t AckCode(const std::vector<std::vector<std::uint8_t>>& replies) {
    EXPECT_EQ(replies.size(), 1u);
    if (replies.empty()) {
        return 0xFFFF;
    }
    SlpHeader header = HeaderOf(replies[0]);
    EXPECT_EQ(header.function, SlpFunction::SrvAck);
    auto ack = CSlpMessageCodec::DecodeSrvAck(replies[0], header);
    return ack ? ack->errorCode : 0xFFFF;
}

std::vector<std::string> UrlsOf(const std::vector<std::uint8_t>& reply) {
    std::vector<std::string> urls;
    auto decoded = CSlpMessageCodec::DecodeSrvRply(reply, HeaderOf(reply));
    for (const SlpUrlEntry& entry : decoded.value_or(SlpSrvRply{}).entries) {
        urls.push_back(entry.url);
    }
    return urls;
}

constexpr auto kOk = static_cast<std::uint16_t>(SlpWireError::Ok);

} // namespace

TEST(SimDirectoryAgent, KeepsRegistrationsByLifetimeAndAnswersFromThem) {
    CSimDirectoryAgent agent("10.77.0.2", "default", 1234);
    const Clock::time_point now = Clock::now();
    const std::string a = "service:raid.004417://10.77.1.1";
    const std::string b = "service:raid.004417://10.77.1.2";
    EXPECT_EQ(AckCode(agent.Answer(Registration(a, 60, "(mac=aa),(type=SAN)"), false, 0, now)),
              kOk);
    EXPECT_EQ(AckCode(agent.Answer(Registration(b, 5, "(mac=bb)"), false, 0, now)), kOk);
    // Unicast only: a multicast search is not the agent's to answer.
    EXPECT_TRUE(agent.Answer(SrvRqst(""), true, 1372, now).empty());
    SlpHeader unicast;
    unicast.xid = 8;
    auto search = [&](std::string filter) {
        return CSlpMessageCodec::Encode(
            unicast, SlpSrvRqst{"", "service:raid.004417", "default", std::move(filter), ""});
    };
    auto replies = agent.Answer(search(""), false, 1372, now);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(UrlsOf(replies[0]), (std::vector<std::string>{a, b}));
    EXPECT_EQ(UrlsOf(agent.Answer(search("(mac=bb)"), false, 1372, now).at(0)),
              std::vector<std::string>{b});
    auto attrs = agent.Answer(AttrRqst(a, "type"), false, 1372, now);
    EXPECT_EQ(CSlpMessageCodec::DecodeAttrRply(attrs.at(0), HeaderOf(attrs[0]))->attrList,
              "(type=SAN)");

    // b's lifetime runs out; a's is renewed by an update that adds an attribute.
    const Clock::time_point later = now + std::chrono::seconds(10);
    EXPECT_EQ(
        AckCode(agent.Answer(Registration(a, 60, "(type=NAS),(model=X)", false), false, 0, later)),
        kOk);
    EXPECT_EQ(UrlsOf(agent.Answer(search(""), false, 1372, later).at(0)),
              std::vector<std::string>{a});
    attrs = agent.Answer(AttrRqst(a), false, 1372, later);
    EXPECT_EQ(CSlpMessageCodec::DecodeAttrRply(attrs.at(0), HeaderOf(attrs[0]))->attrList,
              "(mac=aa),(type=NAS),(model=X)");
    agent.Expire(later);
    EXPECT_EQ(agent.Registrations(), 1u);

    SlpHeader header;
    header.xid = 9;
    auto dereg = CSlpMessageCodec::Encode(header, SlpSrvDeReg{"default", {0, a}, ""});
    EXPECT_EQ(AckCode(agent.Answer(dereg, false, 0, later)), kOk);
    EXPECT_EQ(agent.Registrations(), 0u);
    EXPECT_EQ(AckCode(agent.Answer(dereg, false, 0, later)),
              static_cast<std::uint16_t>(SlpWireError::InvalidRegistration));
}

TEST(SimDirectoryAgent, RefusesBadRegistrationsWithTheirErrorCodes) {
    CSimDirectoryAgent agent("10.77.0.2", "default", 1234);
    const Clock::time_point now = Clock::now();
    const std::string url = "service:raid.004417://10.77.1.1";
    auto code = [](SlpWireError error) { return static_cast<std::uint16_t>(error); };
    EXPECT_EQ(AckCode(agent.Answer(Registration(url, 60, "", true, "other"), false, 0, now)),
              code(SlpWireError::ScopeNotSupported));
    EXPECT_EQ(AckCode(agent.Answer(Registration(url, 0, ""), false, 0, now)),
              code(SlpWireError::InvalidRegistration));
    EXPECT_EQ(AckCode(agent.Answer(Registration("no url", 60, ""), false, 0, now)),
              code(SlpWireError::InvalidRegistration));
    EXPECT_EQ(AckCode(agent.Answer(Registration(url, 60, "(mac=\\zz)"), false, 0, now)),
              code(SlpWireError::InvalidRegistration));
    EXPECT_EQ(AckCode(agent.Answer(Registration(url, 60, "(mac=a)", false), false, 0, now)),
              code(SlpWireError::InvalidUpdate));
    EXPECT_EQ(AckCode(agent.Answer(Cut(Registration(url, 60, "(mac=a)"), 3), false, 0, now)),
              code(SlpWireError::ParseError));
    EXPECT_EQ(agent.Registrations(), 0u);
    // Registrations and junk that come by multicast are not answered.
    EXPECT_TRUE(agent.Answer(Registration(url, 60, ""), true, 0, now).empty());
    EXPECT_TRUE(agent.Answer(std::vector<std::uint8_t>{2, 3, 0}, false, 0, now).empty());
}

TEST(SimDirectoryAgent, AnswersDiscoveryAndCutsLargeDatagramAnswers) {
    CSimDirectoryAgent agent("10.77.0.2", "default", 1234);
    const Clock::time_point now = Clock::now();
    for (int i = 0; i < 100; ++i) {
        agent.Answer(Registration("service:raid.004417://10.77.1." + std::to_string(i), 60, ""),
                     false, 0, now);
    }
    auto discovery = agent.Answer(SrvRqst("", "service:directory-agent"), true, 1372, now);
    ASSERT_EQ(discovery.size(), 1u);
    auto advert = CSlpMessageCodec::DecodeDAAdvert(discovery[0], HeaderOf(discovery[0]));
    ASSERT_TRUE(advert);
    EXPECT_EQ(advert->bootTimestamp, 1234u);
    EXPECT_EQ(advert->url, "service:directory-agent://10.77.0.2");
    EXPECT_TRUE(
        agent.Answer(SrvRqst("10.77.0.2", "service:directory-agent"), true, 1372, now).empty());
    EXPECT_TRUE(
        agent.Answer(SrvRqst("", "service:directory-agent", "other"), true, 1372, now).empty());
    auto goingDown = agent.Advert(true);
    EXPECT_EQ(CSlpMessageCodec::DecodeDAAdvert(goingDown, HeaderOf(goingDown))->bootTimestamp, 0u);

    SlpHeader unicast;
    auto search =
        CSlpMessageCodec::Encode(unicast, SlpSrvRqst{"", "service:raid.004417", "default", "", ""});
    auto cut = agent.Answer(search, false, 1372, now).at(0);
    EXPECT_TRUE(HeaderOf(cut).Overflow());
    EXPECT_LE(cut.size(), 1372u);
    std::size_t inDatagram = UrlsOf(cut).size();
    EXPECT_GT(inDatagram, 0u);
    EXPECT_LT(inDatagram, 100u);
    auto whole = agent.Answer(search, false, 0, now).at(0);
    EXPECT_FALSE(HeaderOf(whole).Overflow());
    EXPECT_EQ(UrlsOf(whole).size(), 100u);
}

TEST(SimRegistrar, RegistersInAWindowRetriesAndRegistersAgainAfterAReboot) {
    std::vector<CArrayConfig> arrays(CSimRegistrar::kWindow + 6, Array());
    for (std::size_t i = 0; i < arrays.size(); ++i) {
        arrays[i].m_strAddress = "10.77.1." + std::to_string(i);
    }
    CSimRegistrar registrar(arrays, 427, 100);
    sockaddr_in agent{};
    agent.sin_family = AF_INET;
    ::inet_pton(AF_INET, "10.77.0.2", &agent.sin_addr);
    const std::uint32_t wall = 1000;
    registrar.AddAgent(agent, wall);
    Clock::time_point now = Clock::now();
    auto sent = registrar.Due(now);
    ASSERT_EQ(sent.size(), CSimRegistrar::kWindow) << "more than a window at once";
    auto ackAll = [&](const std::vector<CSimRegistrar::Outgoing>& messages, std::uint16_t code) {
        for (const auto& message : messages) {
            SlpHeader header = HeaderOf(message.bytes);
            registrar.OnAck(header, SlpSrvAck{code}, now);
        }
    };
    auto first = CSlpMessageCodec::DecodeSrvReg(sent[0].bytes, HeaderOf(sent[0].bytes));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->entry.lifetime, 100);
    EXPECT_NE(HeaderOf(sent[0].bytes).flags & kSlpFlagFresh, 0);
    EXPECT_EQ(CSlpAttrList::Find(first->attrList, "mac"), "02:4f:52:00:00:01");
    ackAll(sent, 0);
    sent = registrar.Due(now);
    EXPECT_EQ(sent.size(), 6u);
    // Unacknowledged: sent again after the retry wait, with the same XID.
    auto again = registrar.Due(now + CSimRegistrar::kRetry);
    ASSERT_EQ(again.size(), 6u);
    EXPECT_EQ(HeaderOf(again[0].bytes).xid, HeaderOf(sent[0].bytes).xid);
    ackAll(again, 0);
    EXPECT_EQ(registrar.Registered(), arrays.size());
    // Renewed before the lifetime runs out.
    EXPECT_TRUE(registrar.Due(now + std::chrono::seconds(50)).empty());
    EXPECT_EQ(registrar.Due(now + std::chrono::seconds(80)).size(), CSimRegistrar::kWindow);

    // An advert from before registering began is no reboot; a later timestamp is.
    SlpDAAdvert advert{0, wall - 10, "service:directory-agent://10.77.0.2", "default", "", ""};
    CSimRegistrar fresh(arrays, 427, 100);
    fresh.AddAgent(agent, wall);
    auto all = fresh.Due(now);
    for (const auto& message : all) {
        fresh.OnAck(HeaderOf(message.bytes), SlpSrvAck{0}, now);
    }
    fresh.OnAdvert(advert, agent, wall);
    EXPECT_TRUE(fresh.Due(now).size() == 6u) << "only the rest of the first registrations";
    advert.bootTimestamp = wall + 50;
    fresh.OnAdvert(advert, agent, wall + 60);
    EXPECT_EQ(fresh.Registered(), 0u);
    EXPECT_EQ(fresh.Due(now).size(), CSimRegistrar::kWindow);
    // Going down: nothing is sent to it until it is back.
    advert.bootTimestamp = 0;
    fresh.OnAdvert(advert, agent, wall + 70);
    EXPECT_TRUE(fresh.Due(now + std::chrono::seconds(5)).empty());
}

TEST(SimRegistrar, DeregistersWhatIsRegisteredWhenLeaving) {
    std::vector<CArrayConfig> arrays(3, Array());
    CSimRegistrar registrar(arrays, 427, 100);
    sockaddr_in agent{};
    agent.sin_family = AF_INET;
    ::inet_pton(AF_INET, "10.77.0.2", &agent.sin_addr);
    registrar.AddAgent(agent, 1000);
    const Clock::time_point now = Clock::now();
    auto sent = registrar.Due(now);
    ASSERT_EQ(sent.size(), 3u);
    registrar.OnAck(HeaderOf(sent[0].bytes), SlpSrvAck{0}, now);
    registrar.OnAck(HeaderOf(sent[1].bytes), SlpSrvAck{4}, now); // refused: nothing to undo
    registrar.BeginLeaving();
    // The acknowledged one and the one still in flight are deregistered.
    auto leaving = registrar.Due(now);
    ASSERT_EQ(leaving.size(), 2u);
    EXPECT_EQ(HeaderOf(leaving[0].bytes).function, SlpFunction::SrvDeReg);
    EXPECT_EQ(registrar.Leaving(), 2u);
    // A stale acknowledgement of a registration does not count for a deregistration.
    registrar.OnAck(HeaderOf(sent[2].bytes), SlpSrvAck{0}, now);
    EXPECT_EQ(registrar.Leaving(), 2u);
    for (const auto& message : leaving) {
        registrar.OnAck(HeaderOf(message.bytes), SlpSrvAck{0}, now);
    }
    EXPECT_EQ(registrar.Leaving(), 0u);
}

TEST(SimOptions, DirectoryAgentOptions) {
    CSimOptions options;
    EXPECT_FALSE(options.Parse(
        {"--address", "10.0.0.2", "--da", "10.0.0.9", "--da=10.0.0.8", "--lifetime", "30"}));
    EXPECT_EQ(options.m_listDirectoryAgents, (std::vector<std::string>{"10.0.0.9", "10.0.0.8"}));
    EXPECT_EQ(options.m_nLifetime, 30);
    CSimOptions agent;
    EXPECT_FALSE(agent.Parse({"--directory-agent", "--address", "10.0.0.2"}));
    EXPECT_TRUE(agent.m_bDirectoryAgent);
    EXPECT_TRUE(CSimOptions().Parse({"--address", "10.0.0.2", "--da", "host"}));
    EXPECT_TRUE(CSimOptions().Parse({"--address", "10.0.0.2", "--lifetime", "0"}));
    EXPECT_TRUE(
        CSimOptions().Parse({"--directory-agent", "--address", "10.0.0.2", "--da", "10.0.0.3"}));
    EXPECT_NE(CSimOptions::Usage().find("TEST DOUBLE"), std::string::npos);
}

TEST(SimHostilePeers, FloodNoAttrsAndForgedAgentPlayTheirParts) {
    CArrayConfig flood = Array();
    flood.m_slpMode = SimSlpMode::Flood;
    const auto cut = CSimSlpAgent::Answer(flood, SrvRqst(""), true, 1372).at(0);
    EXPECT_TRUE(HeaderOf(cut).Overflow());
    EXPECT_EQ(UrlsOf(cut), std::vector<std::string>{flood.ServiceUrl()});
    const auto whole = CSimSlpAgent::Answer(flood, SrvRqst(""), false, 0).at(0);
    const std::vector<std::string> urls = UrlsOf(whole);
    ASSERT_EQ(urls.size(), 1701u);
    EXPECT_GT(whole.size(), 64000u);
    EXPECT_EQ(urls.back(), "service:raid.004417://10.77.106.200");
    // Its own attributes are there; the made-up hosts' are never answered.
    EXPECT_EQ(CSimSlpAgent::Answer(flood, AttrRqst(flood.ServiceUrl()), false, 1372).size(), 1u);
    EXPECT_TRUE(CSimSlpAgent::Answer(flood, AttrRqst(urls[1]), false, 1372).empty());

    CArrayConfig mute = Array();
    mute.m_slpMode = SimSlpMode::NoAttrs;
    EXPECT_EQ(UrlsOf(CSimSlpAgent::Answer(mute, SrvRqst(""), true, 1372).at(0)),
              std::vector<std::string>{mute.ServiceUrl()});
    EXPECT_TRUE(CSimSlpAgent::Answer(mute, AttrRqst(mute.ServiceUrl()), false, 1372).empty());

    CSimDirectoryAgent forged("10.77.0.2", "default", 1234);
    forged.Forge("10.77.1.1");
    const Clock::time_point now = Clock::now();
    EXPECT_EQ(AckCode(forged.Answer(Registration(flood.ServiceUrl(), 60, ""), false, 0, now)), kOk);
    EXPECT_EQ(forged.Registrations(), 0u);
    const auto discovery = forged.Answer(SrvRqst("", "service:directory-agent"), true, 1372, now);
    ASSERT_EQ(discovery.size(), 1u);
    EXPECT_EQ(CSlpMessageCodec::DecodeDAAdvert(discovery[0], HeaderOf(discovery[0]))->url,
              "service:directory-agent://10.77.1.1");
}
