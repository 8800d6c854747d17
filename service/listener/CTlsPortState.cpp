// The published TLS port state and its texts.
#include "service/listener/CTlsPortState.h"

#include <mutex>

namespace {

std::mutex g_publishedGuard;
CTlsPortState g_published;

// "AB:" per byte: two hex digits and a colon.
constexpr std::size_t kCharsPerByte = 3;

} // namespace

std::string CTlsPortState::Summary() const {
    switch (eState) {
    case EState::Serving:
        return "port " + std::to_string(nPort) + ", SHA-256 fingerprint " + strFingerprint;
    case EState::NotServed:
        return "not served: " + strReason;
    case EState::Off:
        break;
    }
    return "off";
}

std::string CTlsPortState::FingerprintLines() const {
    std::string lines;
    const std::size_t lineChars = kBytesPerLine * kCharsPerByte;
    for (std::size_t at = 0; at < strFingerprint.size(); at += lineChars) {
        // Each line but the last ends in the colon that joined it to the next.
        std::string line = strFingerprint.substr(at, lineChars);
        if (!line.empty() && line.back() == ':') {
            line.pop_back();
        }
        lines += (lines.empty() ? "" : "\n") + line;
    }
    return lines;
}

void CTlsPortState::Publish(CTlsPortState state) {
    const std::lock_guard lock(g_publishedGuard);
    g_published = std::move(state);
}

CTlsPortState CTlsPortState::Published() {
    const std::lock_guard lock(g_publishedGuard);
    return g_published;
}
