// A service URL taken apart: "service:raid.004417://10.0.0.5:51000/path;attr" gives the type,
// host, port and the rest. Only URLs with a "://" host part are accepted.
#pragma once

#include <optional>
#include <string>
#include <string_view>

class CSlpServiceUrl {
public:
    static std::optional<CSlpServiceUrl> Parse(std::string_view url);

    std::string m_strServiceType;
    std::string m_strHost; // an IPv6 literal keeps its brackets
    int m_nPort = 0;
    std::string m_strRest;
};
