// The HTTP side of a simulated array, as pure request logic: the bytes received so far on a
// connection in, and either "need more", "never answer" or the whole response out. The one
// operation is the administrator login check: POST to the API path with Basic credentials.
#pragma once

#include "tools/array-sim/CArrayConfig.h"

#include <string>
#include <string_view>

class CSimHttpResponder {
public:
    enum class State { NeedMore, Respond, Ignore };
    struct Result {
        State state = State::NeedMore;
        std::string response;
    };

    static Result Handle(const CArrayConfig& array, std::string_view received);

    static constexpr const char* kApiPath = "/api/tarvik_storage_server_x.php";
    static constexpr const char* kQueryBody = "op=query&query=0";
    static constexpr std::size_t kOversizeBody = 100000;
    static constexpr std::size_t kMaxRequest = 1 << 20;
};
