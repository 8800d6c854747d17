// The SLP library's own settings, read as an SLP installation keeps them: a properties file
// ("name = value" lines, "#" or ";" comments), /etc/slp.conf unless the environment variable
// OpenSLPConfig names another. Properties that are absent or unreadable keep their defaults.
// Besides the net.slp properties, one of this library's own: kAttributesFromUrlHost.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CSlpConfig {
public:
    static constexpr const char* kDefaultPath = "/etc/slp.conf";
    static constexpr const char* kPathVariable = "OpenSLPConfig";
    static constexpr const char* kAttributesFromUrlHost = "orvane.slp.attributesFromUrlHost";

    // Reads the file the environment names, or the default file; defaults when there is none.
    // programDefaults (properties-file lines) are read first, so the file overrides them.
    static CSlpConfig Load(std::string_view programDefaults = {});
    static CSlpConfig FromText(std::string_view text);

    std::uint16_t m_nPort = 427;
    std::vector<std::string> m_listDAAddresses;
    // Directory agents are also looked for by multicast, every interval (seconds; 0 turns
    // that off, as does m_bActiveDADetection false): those of m_listDAAddresses are always used.
    bool m_bActiveDADetection = true;
    int m_nDAActiveDiscoveryInterval = 900;
    std::vector<std::string> m_listInterfaces;
    int m_nMulticastTTL = 255;
    int m_nMulticastMaximumWait = 15000;
    std::vector<int> m_arrMulticastTimeouts{3000, 3000, 3000, 3000, 3000};
    int m_nUnicastMaximumWait = 5000;
    std::vector<int> m_arrUnicastTimeouts{500, 750, 1000, 1500, 2000, 3000};
    int m_nMTU = 1400;
    bool m_bBroadcastOnly = false;
    std::string m_strBroadcastAddr = "255.255.255.255";
    std::string m_strLocale = "en";
    std::string m_strUseScopes = "default";
    // The attributes of a URL that names its host by IPv4 address are asked of the directory
    // agents in use, else of that host alone, never by multicast. Off by default, as a user
    // agent must also hear a service agent that answers for URLs of other hosts (a proxy, a
    // static registration); a program that must not take any host's word for another turns
    // it on.
    bool m_bAttributesFromUrlHost = false;

private:
    void Set(std::string_view name, std::string_view value);
};
