// What one simulated storage array is: its address, the attributes it announces, the
// administrator it accepts and how its SLP and HTTP sides behave. Parsed from the same options
// on the command line and in an arrays file.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class SimHttpMode { Normal, NotFound, Status, Oversize, Silent };
// NoAttrs, Flood and ManyMacs are hostile peers for the tests: one answers searches but never
// attribute requests, one answers searches with its own URL and 1,700 of hosts that do not
// exist, and one announces 410 URLs of its own address, each with another of the lab's MACs.
enum class SimSlpMode { Normal, Silent, Garbage, NoAttrs, Flood, ManyMacs };

struct CArrayConfig {
    std::string m_strAddress;
    // The host its URL names when not m_strAddress: the array then answers for another host, as
    // a proxy or a static registration does.
    std::string m_strUrlHost;
    // The announced attributes in announcement order; one whose option was not given is absent.
    std::vector<std::pair<std::string, std::string>> m_listAttributes;
    std::string m_strAdminUser = "admin";
    std::string m_strAdminPassword;
    std::string m_strScope = "default";
    std::string m_strBody;
    SimHttpMode m_httpMode = SimHttpMode::Normal;
    int m_nHttpStatus = 500;
    // How long each HTTP answer is held back once its request is in, so that logins overlap.
    std::chrono::milliseconds m_httpDelay{0};
    SimSlpMode m_slpMode = SimSlpMode::Normal;

    std::string ServiceUrl() const;
    std::optional<std::string> Attribute(std::string_view tag) const;
    void SetAttribute(const std::string& tag, const std::string& value);
    std::string AttributeList(std::string_view tagList) const;

    // Applies one option ("--mac") with its value; an error text when it is not an array
    // option or its value is bad, nullopt on success. Returns "unknown" for a name it does not
    // know, so that the caller can try its own options.
    std::optional<std::string> Apply(std::string_view name, const std::string& value);
    static bool IsArrayOption(std::string_view name);
};
