// Escaping of values that a user types before they are put into a search filter, so that a name
// can never change the shape of the query it is looked up with.
#pragma once

#include <string>
#include <string_view>

// A filter assertion value: '*', '(', ')', '\', NUL and every byte outside printable ASCII become
// \XX. Escaping non-ASCII bytes too keeps the filter valid whatever the server makes of UTF-8.
std::string LdapEscapeFilterValue(std::string_view value);

// The filter template with every "%s" replaced by the filter-escaped value.
std::string LdapFillFilter(std::string_view filterTemplate, std::string_view value);
