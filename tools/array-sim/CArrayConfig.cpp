#include "tools/array-sim/CArrayConfig.h"

#include "platform/slp/CSlpAttrList.h"

#include <arpa/inet.h>
#include <array>
#include <charconv>

namespace {

constexpr std::array<std::string_view, 7> kAttributeOptions = {
    "mac", "hostname", "vendor", "type", "model", "product", "version"};
constexpr std::array<std::string_view, 11> kOtherOptions = {
    "address",     "admin-user", "admin-password", "scope",    "body",         "http-mode",
    "http-status", "slp-mode",   "omit",           "url-host", "http-delay-ms"};
// A held answer still ends within any login's timeout.
constexpr int kMaxHttpDelayMs = 60000;

} // namespace

std::string CArrayConfig::ServiceUrl() const {
    return "service:raid.004417://" + (m_strUrlHost.empty() ? m_strAddress : m_strUrlHost);
}

std::optional<std::string> CArrayConfig::Attribute(std::string_view tag) const {
    for (const auto& [name, value] : m_listAttributes) {
        if (name == tag) {
            return value;
        }
    }
    return std::nullopt;
}

void CArrayConfig::SetAttribute(const std::string& tag, const std::string& value) {
    for (auto& [name, current] : m_listAttributes) {
        if (name == tag) {
            current = value;
            return;
        }
    }
    m_listAttributes.emplace_back(tag, value);
}

std::string CArrayConfig::AttributeList(std::string_view tagList) const {
    std::string list;
    for (const auto& [tag, value] : m_listAttributes) {
        if (!CSlpAttrList::TagSelected(tagList, tag)) {
            continue;
        }
        if (!list.empty()) {
            list += ',';
        }
        list += '(' + CSlpAttrList::Escape(tag) + '=' + CSlpAttrList::Escape(value) + ')';
    }
    return list;
}

bool CArrayConfig::IsArrayOption(std::string_view name) {
    for (std::string_view option : kAttributeOptions) {
        if (option == name) {
            return true;
        }
    }
    for (std::string_view option : kOtherOptions) {
        if (option == name) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> CArrayConfig::Apply(std::string_view name, const std::string& value) {
    for (std::string_view option : kAttributeOptions) {
        if (option == name) {
            SetAttribute(std::string(name), value);
            return std::nullopt;
        }
    }
    if (name == "address" || name == "url-host") {
        in_addr parsed{};
        if (::inet_pton(AF_INET, value.c_str(), &parsed) != 1) {
            return "--" + std::string(name) + " needs an IPv4 address, not \"" + value + "\"";
        }
        (name == "address" ? m_strAddress : m_strUrlHost) = value;
    } else if (name == "omit") {
        for (std::string_view tag : kAttributeOptions) {
            if (CSlpAttrList::TagSelected(value, tag)) {
                std::erase_if(m_listAttributes,
                              [tag](const auto& attr) { return attr.first == tag; });
            }
        }
    } else if (name == "admin-user") {
        m_strAdminUser = value;
    } else if (name == "admin-password") {
        m_strAdminPassword = value;
    } else if (name == "scope") {
        m_strScope = value;
    } else if (name == "body") {
        m_strBody = value;
    } else if (name == "http-mode") {
        if (value == "normal") {
            m_httpMode = SimHttpMode::Normal;
        } else if (value == "404") {
            m_httpMode = SimHttpMode::NotFound;
        } else if (value == "status") {
            m_httpMode = SimHttpMode::Status;
        } else if (value == "oversize") {
            m_httpMode = SimHttpMode::Oversize;
        } else if (value == "silent") {
            m_httpMode = SimHttpMode::Silent;
        } else {
            return "--http-mode is one of normal, 404, status, oversize, silent; not \"" + value +
                   "\"";
        }
    } else if (name == "http-status") {
        int status = 0;
        auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), status);
        if (error != std::errc() || end != value.data() + value.size() || status < 100 ||
            status > 599) {
            return "--http-status needs a status code from 100 to 599, not \"" + value + "\"";
        }
        m_nHttpStatus = status;
        m_httpMode = SimHttpMode::Status;
    } else if (name == "http-delay-ms") {
        int delay = -1;
        auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), delay);
        if (error != std::errc() || end != value.data() + value.size() || delay < 0 ||
            delay > kMaxHttpDelayMs) {
            return "--http-delay-ms needs milliseconds from 0 to 60000, not \"" + value + "\"";
        }
        m_httpDelay = std::chrono::milliseconds(delay);
    } else if (name == "slp-mode") {
        if (value == "normal") {
            m_slpMode = SimSlpMode::Normal;
        } else if (value == "silent") {
            m_slpMode = SimSlpMode::Silent;
        } else if (value == "garbage") {
            m_slpMode = SimSlpMode::Garbage;
        } else if (value == "no-attrs") {
            m_slpMode = SimSlpMode::NoAttrs;
        } else if (value == "flood") {
            m_slpMode = SimSlpMode::Flood;
        } else if (value == "many-macs") {
            m_slpMode = SimSlpMode::ManyMacs;
        } else {
            return "--slp-mode is one of normal, silent, garbage, no-attrs, flood, many-macs; not "
                   "\"" +
                   value + "\"";
        }
    } else {
        return std::string("unknown");
    }
    return std::nullopt;
}
