// The text of OpenSSL's error queue, for log lines and refusals.
#pragma once

#include <string>
#include <string_view>

// Empties the calling thread's error queue and answers the context followed by its entries
// (": " before the first, "; " between them); an empty queue gives the context alone.
std::string TakeTlsErrors(std::string_view context);
