#include "platform/slp/CSlpServiceUrl.h"

#include <charconv>

std::optional<CSlpServiceUrl> CSlpServiceUrl::Parse(std::string_view url) {
    std::size_t separator = url.find("://");
    if (separator == std::string_view::npos || separator == 0) {
        return std::nullopt;
    }
    CSlpServiceUrl result;
    result.m_strServiceType = std::string(url.substr(0, separator));
    std::string_view rest = url.substr(separator + 3);
    std::size_t hostEnd = 0;
    if (!rest.empty() && rest.front() == '[') {
        hostEnd = rest.find(']');
        if (hostEnd == std::string_view::npos) {
            return std::nullopt;
        }
        ++hostEnd;
    } else {
        hostEnd = rest.find_first_of(":/;");
        if (hostEnd == std::string_view::npos) {
            hostEnd = rest.size();
        }
    }
    result.m_strHost = std::string(rest.substr(0, hostEnd));
    rest.remove_prefix(hostEnd);
    if (!rest.empty() && rest.front() == ':') {
        rest.remove_prefix(1);
        std::size_t portEnd = rest.find_first_of("/;");
        std::string_view port = rest.substr(0, portEnd);
        int value = 0;
        auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (port.empty() || error != std::errc() || end != port.data() + port.size() || value < 0 ||
            value > 65535) {
            return std::nullopt;
        }
        result.m_nPort = value;
        rest.remove_prefix(port.size());
    }
    if (!rest.empty() && rest.front() != '/' && rest.front() != ';') {
        return std::nullopt;
    }
    result.m_strRest = std::string(rest);
    return result;
}
