// The gates' checks, run once per process and need.
#include "tests/support/TestGate.h"

#include "tests/support/RunShell.h"

#include <cstdlib>
#include <map>
#include <mutex>

namespace {

constexpr const char* kFailOnSkipVariable = "ORVANE_FAIL_ON_SKIP";

// A need's word is passed to the shell: only these characters may appear in it.
bool IsPlainWord(std::string_view word) {
    for (const char c : word) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':';
        if (!plain) {
            return false;
        }
    }
    return !word.empty();
}

std::string WhyUnavailable(std::string_view need) {
    if (!IsPlainWord(need)) {
        return "not a need: \"" + std::string(need) + "\"";
    }
    std::string why = RunShell(". '" ORVANE_SOURCE_DIR "/tests/support/gate.sh' && gate_why " +
                               std::string(need));
    while (!why.empty() && why.back() == '\n') {
        why.pop_back();
    }
    return why;
}

} // namespace

std::string GateUnavailable(std::initializer_list<std::string_view> needs) {
    static std::mutex mutex;
    static std::map<std::string, std::string, std::less<>> known;
    const std::scoped_lock lock(mutex);
    for (const std::string_view need : needs) {
        auto it = known.find(need);
        if (it == known.end()) {
            it = known.emplace(std::string(need), WhyUnavailable(need)).first;
        }
        if (!it->second.empty()) {
            return it->second;
        }
    }
    return {};
}

bool GateFailsOnSkip() {
    const char* value = std::getenv(kFailOnSkipVariable);
    return value != nullptr && std::string_view(value) == "1";
}
