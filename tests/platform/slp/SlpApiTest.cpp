// The configuration reader, service URLs, the directory agents' list and the entry points
// that need no network.
#include "platform/slp/CSlpConfig.h"
#include "platform/slp/CSlpDirectoryAgents.h"
#include "platform/slp/CSlpServiceUrl.h"
#include "platform/slp/slp.h"

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

TEST(SlpConfig, DefaultsAreThoseOfAnSlpInstallation) {
    CSlpConfig config = CSlpConfig::FromText("");
    EXPECT_EQ(config.m_nPort, 427);
    EXPECT_EQ(config.m_nMulticastMaximumWait, 15000);
    EXPECT_EQ(config.m_arrMulticastTimeouts, (std::vector<int>{3000, 3000, 3000, 3000, 3000}));
    EXPECT_EQ(config.m_nMTU, 1400);
    EXPECT_EQ(config.m_nMulticastTTL, 255);
    EXPECT_FALSE(config.m_bBroadcastOnly);
    EXPECT_EQ(config.m_strBroadcastAddr, "255.255.255.255");
    EXPECT_TRUE(config.m_listDAAddresses.empty());
    EXPECT_TRUE(config.m_bActiveDADetection);
    EXPECT_EQ(config.m_nDAActiveDiscoveryInterval, 900);
    EXPECT_FALSE(config.m_bAttributesFromUrlHost);
}

TEST(SlpConfig, PropertiesAreRead) {
    CSlpConfig config = CSlpConfig::FromText("# comment\n; another\n"
                                             "net.slp.port = 1427\r\n"
                                             "net.slp.DAAddresses = 10.0.0.1, 10.0.0.2\n"
                                             "net.slp.interfaces=10.0.0.5\n"
                                             "net.slp.multicastTTL = 8\n"
                                             "net.slp.multicastMaximumWait = 2000\n"
                                             "net.slp.multicastTimeouts = 100,200, 300\n"
                                             "net.slp.unicastMaximumWait = 900\n"
                                             "net.slp.unicastTimeouts = 100,200\n"
                                             "net.slp.MTU = 9000\n"
                                             "net.slp.isBroadcastOnly = TRUE\n"
                                             "net.slp.broadcastAddr = 10.0.255.255\n"
                                             "net.slp.activeDADetection = no\n"
                                             "net.slp.DAActiveDiscoveryInterval = 0\n"
                                             "ORVANE.slp.attributesFromUrlHost = yes\n");
    EXPECT_EQ(config.m_nPort, 1427);
    EXPECT_EQ(config.m_listDAAddresses, (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
    EXPECT_EQ(config.m_listInterfaces, (std::vector<std::string>{"10.0.0.5"}));
    EXPECT_EQ(config.m_nMulticastTTL, 8);
    EXPECT_EQ(config.m_nMulticastMaximumWait, 2000);
    EXPECT_EQ(config.m_arrMulticastTimeouts, (std::vector<int>{100, 200, 300}));
    EXPECT_EQ(config.m_nUnicastMaximumWait, 900);
    EXPECT_EQ(config.m_arrUnicastTimeouts, (std::vector<int>{100, 200}));
    EXPECT_EQ(config.m_nMTU, 9000);
    EXPECT_TRUE(config.m_bBroadcastOnly);
    EXPECT_EQ(config.m_strBroadcastAddr, "10.0.255.255");
    EXPECT_FALSE(config.m_bActiveDADetection);
    EXPECT_EQ(config.m_nDAActiveDiscoveryInterval, 0);
    EXPECT_TRUE(config.m_bAttributesFromUrlHost);
}

TEST(SlpConfig, BadValuesKeepTheDefaults) {
    CSlpConfig config = CSlpConfig::FromText(
        "net.slp.port = 0\nnet.slp.multicastTTL = 300\nnet.slp.multicastTimeouts = 100,x\n"
        "net.slp.MTU = big\nnet.slp.isBroadcastOnly = maybe\nnet.slp.multicastMaximumWait=-5\n"
        "net.slp.activeDADetection = sometimes\nnet.slp.DAActiveDiscoveryInterval = 70000\n"
        "no equals sign here\n= value without name\n");
    CSlpConfig defaults;
    EXPECT_EQ(config.m_nPort, defaults.m_nPort);
    EXPECT_EQ(config.m_nMulticastTTL, defaults.m_nMulticastTTL);
    EXPECT_EQ(config.m_arrMulticastTimeouts, defaults.m_arrMulticastTimeouts);
    EXPECT_EQ(config.m_nMTU, defaults.m_nMTU);
    EXPECT_EQ(config.m_bBroadcastOnly, defaults.m_bBroadcastOnly);
    EXPECT_EQ(config.m_nMulticastMaximumWait, defaults.m_nMulticastMaximumWait);
    EXPECT_EQ(config.m_bActiveDADetection, defaults.m_bActiveDADetection);
    EXPECT_EQ(config.m_nDAActiveDiscoveryInterval, defaults.m_nDAActiveDiscoveryInterval);
}

TEST(SlpConfig, TheEnvironmentNamesTheFileWhichOverridesTheProgramsDefaults) {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("slpconf-" + std::to_string(::getpid()) + ".conf");
    std::ofstream(path) << "net.slp.multicastMaximumWait = 1234\nnet.slp.activeDADetection = on\n"
                           "net.slp.activeDADetection = yes\n";
    ::setenv(CSlpConfig::kPathVariable, path.c_str(), 1);
    const std::string programDefaults =
        "net.slp.activeDADetection = false\nnet.slp.unicastMaximumWait = 3000\n";
    CSlpConfig config = CSlpConfig::Load(programDefaults);
    EXPECT_EQ(config.m_nMulticastMaximumWait, 1234);
    EXPECT_TRUE(config.m_bActiveDADetection);
    EXPECT_EQ(config.m_nUnicastMaximumWait, 3000);
    ::setenv(CSlpConfig::kPathVariable, "/nonexistent/slp.conf", 1);
    EXPECT_EQ(CSlpConfig::Load().m_nMulticastMaximumWait, 15000);
    EXPECT_TRUE(CSlpConfig::Load().m_bActiveDADetection);
    EXPECT_FALSE(CSlpConfig::Load(programDefaults).m_bActiveDADetection);
    ::unsetenv(CSlpConfig::kPathVariable);
    std::filesystem::remove(path);
    // A default that a file line could not hold is refused rather than read as two lines.
    for (const char* name : {"net.slp.useScopes\nnet.slp.port", "", "a=b", "# note"}) {
        EXPECT_EQ(SLPSetPropertyDefault(name, "x"), SLP_PARAMETER_BAD) << name;
    }
    EXPECT_EQ(SLPSetPropertyDefault("net.slp.useScopes", "a\nnet.slp.port = 9"), SLP_PARAMETER_BAD);
    EXPECT_EQ(SLPSetPropertyDefault(nullptr, "x"), SLP_PARAMETER_BAD);
}

TEST(SlpParseSrvURL, SplitsTypeHostPortAndRest) {
    SLPSrvURL* url = nullptr;
    ASSERT_EQ(SLPParseSrvURL("service:raid.004417://10.77.1.5", &url), SLP_OK);
    EXPECT_STREQ(url->s_pcSrvType, "service:raid.004417");
    EXPECT_STREQ(url->s_pcHost, "10.77.1.5");
    EXPECT_EQ(url->s_iPort, 0);
    EXPECT_STREQ(url->s_pcNetFamily, "");
    EXPECT_STREQ(url->s_pcSrvPart, "");
    SLPFree(url);
    ASSERT_EQ(SLPParseSrvURL("service:printer:lpr://[fe80::1]:515/queue;x=1", &url), SLP_OK);
    EXPECT_STREQ(url->s_pcSrvType, "service:printer:lpr");
    EXPECT_STREQ(url->s_pcHost, "[fe80::1]");
    EXPECT_EQ(url->s_iPort, 515);
    EXPECT_STREQ(url->s_pcSrvPart, "/queue;x=1");
    SLPFree(url);
}

TEST(SlpParseSrvURL, MalformedUrlsAreParseErrors) {
    SLPSrvURL* url = nullptr;
    for (const char* text :
         {"", "service:raid", "://host", "service:x://host:", "service:x://host:99999",
          "service:x://host:12ab", "service:x://[fe80::1", "service:x://h:1x/"}) {
        EXPECT_EQ(SLPParseSrvURL(text, &url), SLP_PARSE_ERROR) << text;
        EXPECT_EQ(url, nullptr);
    }
    EXPECT_EQ(SLPParseSrvURL(nullptr, &url), SLP_PARAMETER_BAD);
}

TEST(SlpOpen, OnlySynchronousHandlesAndSaneArguments) {
    SLPHandle handle = reinterpret_cast<SLPHandle>(1);
    EXPECT_EQ(SLPOpen("en", SLP_TRUE, &handle), SLP_NOT_IMPLEMENTED);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(SLPOpen("en", SLP_FALSE, nullptr), SLP_PARAMETER_BAD);
    ASSERT_EQ(SLPOpen(nullptr, SLP_FALSE, &handle), SLP_OK);
    auto never = [](SLPHandle, const char*, unsigned short, SLPError, void*) { return SLP_TRUE; };
    EXPECT_EQ(SLPFindSrvs(handle, nullptr, "default", "", never, nullptr), SLP_PARAMETER_BAD);
    EXPECT_EQ(SLPFindSrvs(handle, "service:x", "default", "", nullptr, nullptr), SLP_PARAMETER_BAD);
    EXPECT_EQ(SLPFindSrvs(nullptr, "service:x", "default", "", never, nullptr), SLP_PARAMETER_BAD);
    SLPClose(handle);
}

sockaddr_in Sender(const char* address) {
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, address, &from.sin_addr);
    return from;
}

std::string Text(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
}

TEST(SlpDirectoryAgents, AdvertsAddUpdateAndRemoveAgentsThatNameThemselves) {
    CSlpDirectoryAgents agents;
    const sockaddr_in da = Sender("10.0.0.2");
    agents.Learn({0, 100, "service:directory-agent://10.0.0.2", "Default, other", "", ""}, da, 427);
    // Passed over: a URL naming another host or a name, and an error code.
    struct Advert {
        const char* sender;
        const char* url;
        std::uint16_t error;
    };
    for (const Advert& advert : {Advert{"10.0.0.7", "service:directory-agent://10.0.0.2", 0},
                                 Advert{"10.0.0.7", "service:directory-agent://10.0.0.9", 0},
                                 Advert{"10.0.0.7", "service:directory-agent://da.example", 0},
                                 Advert{"10.0.0.7", "not a url", 0},
                                 Advert{"10.0.0.3", "service:directory-agent://10.0.0.3", 4}}) {
        agents.Learn({advert.error, 300, advert.url, "default", "", ""}, Sender(advert.sender),
                     427);
    }
    std::vector<SlpDirectoryAgent> known = agents.Known();
    ASSERT_EQ(known.size(), 1u);
    EXPECT_EQ(Text(known[0].address), "10.0.0.2");
    EXPECT_EQ(ntohs(known[0].address.sin_port), 427);
    EXPECT_EQ(known[0].scopes, (std::vector<std::string>{"default", "other"}));
    EXPECT_EQ(known[0].bootTimestamp, 100u) << "another host's advert changed the agent";

    // A reboot updates the agent in place; a timestamp of 0 means it is going down.
    agents.Learn({0, 101, "service:directory-agent://10.0.0.2", "default", "", ""}, da, 427);
    known = agents.Known();
    ASSERT_EQ(known.size(), 1u);
    EXPECT_EQ(known[0].bootTimestamp, 101u);
    agents.Learn({0, 0, "service:directory-agent://10.0.0.2", "default", "", ""}, da, 427);
    EXPECT_TRUE(agents.Known().empty());

    // A crowd of answers: the ones known longest make room.
    for (int i = 1; i <= 10; ++i) {
        const std::string address = "10.0.1." + std::to_string(i);
        agents.Learn({0, 1, "service:directory-agent://" + address, "default", "", ""},
                     Sender(address.c_str()), 427);
    }
    known = agents.Known();
    ASSERT_EQ(known.size(), CSlpDirectoryAgents::kCapacity);
    EXPECT_EQ(Text(known.front().address), "10.0.1.3");
    EXPECT_EQ(Text(known.back().address), "10.0.1.10");
    agents.Failed(known.front().address);
    EXPECT_EQ(agents.Known().size(), CSlpDirectoryAgents::kCapacity - 1);
}

TEST(SlpDirectoryAgents, WithoutActiveDetectionOnlyTheConfiguredAgentsAreAsked) {
    CSlpDirectoryAgents agents;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from = Sender("10.0.0.2");
    agents.Learn({0, 100, "service:directory-agent://10.0.0.2", "default", "", ""}, from, 427);
    ASSERT_EQ(agents.Known().size(), 1u);
    for (const char* off :
         {"net.slp.activeDADetection = false\n", "net.slp.DAActiveDiscoveryInterval = 0\n"}) {
        CSlpConfig config =
            CSlpConfig::FromText(std::string("net.slp.DAAddresses = 10.0.0.9, bad\n") + off);
        std::vector<sockaddr_in> asked = agents.For(config, "en", "default");
        ASSERT_EQ(asked.size(), 1u) << off;
        char text[INET_ADDRSTRLEN] = {};
        EXPECT_STREQ(::inet_ntop(AF_INET, &asked[0].sin_addr, text, sizeof text), "10.0.0.9");
    }
}
