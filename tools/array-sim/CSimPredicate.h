// Search filters of service requests (LDAPv3 filter strings, RFC 2254 syntax) evaluated against
// one array's attributes: "(&(vendor=Tarvik*)(!(type=NAS)))", presence "(mac=*)", substrings,
// "~=", ">=", "<=". Strings compare without regard to case; integers by value.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CSimPredicate {
public:
    using Attributes = std::vector<std::pair<std::string, std::string>>;

    // nullopt when the filter cannot be read; an empty filter matches everything.
    static std::optional<bool> Matches(std::string_view filter, const Attributes& attributes);
};
