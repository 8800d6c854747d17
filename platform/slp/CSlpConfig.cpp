#include "platform/slp/CSlpConfig.h"

#include "platform/text/TextUtil.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

namespace {

std::optional<int> Integer(std::string_view text, int low, int high) {
    text = Trim(text);
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<bool> Boolean(std::string_view text) {
    std::string value = AsciiLower(Trim(text));
    if (value == "true" || value == "yes" || value == "1") {
        return true;
    }
    if (value == "false" || value == "no" || value == "0") {
        return false;
    }
    return std::nullopt;
}

std::vector<std::string> List(std::string_view text) {
    std::vector<std::string> items;
    for (const std::string_view item : SplitList(text)) {
        items.emplace_back(item);
    }
    return items;
}

// A list of timeouts in milliseconds; one bad item makes the whole list unusable.
std::optional<std::vector<int>> Timeouts(std::string_view text) {
    std::vector<int> values;
    for (const std::string& item : List(text)) {
        std::optional<int> value = Integer(item, 1, 600000);
        if (!value) {
            return std::nullopt;
        }
        values.push_back(*value);
    }
    if (values.empty()) {
        return std::nullopt;
    }
    return values;
}

template <typename T>
void Assign(T& target, std::optional<T> value) {
    if (value) {
        target = std::move(*value);
    }
}

} // namespace

CSlpConfig CSlpConfig::Load(std::string_view programDefaults) {
    const char* path = std::getenv(kPathVariable);
    std::ostringstream text;
    text << programDefaults << '\n';
    if (std::ifstream file(path != nullptr && *path != '\0' ? path : kDefaultPath); file) {
        text << file.rdbuf();
    }
    return FromText(text.str());
}

CSlpConfig CSlpConfig::FromText(std::string_view text) {
    CSlpConfig config;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == '#' || line.front() == ';') {
            continue;
        }
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        config.Set(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)));
    }
    return config;
}

void CSlpConfig::Set(std::string_view name, std::string_view value) {
    std::string key = AsciiLower(name);
    if (key == "net.slp.port") {
        if (std::optional<int> port = Integer(value, 1, 65535)) {
            m_nPort = static_cast<std::uint16_t>(*port);
        }
    } else if (key == "net.slp.daaddresses") {
        m_listDAAddresses = List(value);
    } else if (key == "net.slp.activedadetection") {
        Assign(m_bActiveDADetection, Boolean(value));
    } else if (key == "net.slp.daactivediscoveryinterval") {
        Assign(m_nDAActiveDiscoveryInterval, Integer(value, 0, 65535));
    } else if (key == "net.slp.interfaces") {
        m_listInterfaces = List(value);
    } else if (key == "net.slp.multicastttl") {
        Assign(m_nMulticastTTL, Integer(value, 1, 255));
    } else if (key == "net.slp.multicastmaximumwait") {
        Assign(m_nMulticastMaximumWait, Integer(value, 1, 600000));
    } else if (key == "net.slp.multicasttimeouts") {
        Assign(m_arrMulticastTimeouts, Timeouts(value));
    } else if (key == "net.slp.unicastmaximumwait") {
        Assign(m_nUnicastMaximumWait, Integer(value, 1, 600000));
    } else if (key == "net.slp.unicasttimeouts") {
        Assign(m_arrUnicastTimeouts, Timeouts(value));
    } else if (key == "net.slp.mtu") {
        Assign(m_nMTU, Integer(value, 128, 65535));
    } else if (key == "net.slp.isbroadcastonly") {
        Assign(m_bBroadcastOnly, Boolean(value));
    } else if (key == "net.slp.broadcastaddr") {
        if (!value.empty()) {
            m_strBroadcastAddr = std::string(value);
        }
    } else if (key == "net.slp.locale") {
        if (!value.empty()) {
            m_strLocale = std::string(value);
        }
    } else if (key == "net.slp.usescopes") {
        if (!value.empty()) {
            m_strUseScopes = std::string(value);
        }
    } else if (key == AsciiLower(kAttributesFromUrlHost)) {
        Assign(m_bAttributesFromUrlHost, Boolean(value));
    }
}
