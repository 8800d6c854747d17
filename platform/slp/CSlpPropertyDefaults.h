// The values a program gives SLP properties for itself: each stands in for the library's own
// default, and the configuration file still overrides it. A program that wants a stricter
// default than the protocol's (no directory agent discovery, say) sets it here, and an operator
// who wants the protocol's behaviour back writes the property into the file.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>

class CSlpPropertyDefaults {
public:
    // False for a name or value that a properties file could not hold (empty name, '=',
    // line breaks, NUL).
    bool Set(std::string_view name, std::string_view value);
    // The defaults as properties-file lines, to be read before the file itself.
    std::string Text() const;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_mapValues; // by folded name
};
