// The program's own property defaults, kept as the lines they become.
#include "platform/slp/CSlpPropertyDefaults.h"

#include "platform/text/TextUtil.h"

namespace {

bool FitsOneLine(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

} // namespace

bool CSlpPropertyDefaults::Set(std::string_view name, std::string_view value) {
    const std::string_view trimmed = Trim(name);
    if (trimmed.empty() || trimmed.find('=') != std::string_view::npos || !FitsOneLine(name) ||
        !FitsOneLine(value) || trimmed.front() == '#' || trimmed.front() == ';') {
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_mapValues[AsciiLower(trimmed)] = std::string(Trim(value));
    return true;
}

std::string CSlpPropertyDefaults::Text() const {
    std::lock_guard lock(m_mutex);
    std::string text;
    for (const auto& [name, value] : m_mapValues) {
        text += name + " = " + value + "\n";
    }
    return text;
}
