#include "service/listener/ServiceCertificate.h"

#include "platform/text/TextEscape.h"

#include <ctime>

namespace {

std::string DateText(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm tm{};
    char text[32] = "?";
    if (::gmtime_r(&t, &tm) != nullptr) {
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    }
    return text;
}

} // namespace

bool LoadServiceCertificate(const std::filesystem::path& folder, CTlsServerContext& tls,
                            CServiceLog& log, std::chrono::system_clock::time_point now,
                            CTlsPortState& state) {
    CCertificateStore store;
    if (!store.Load(folder) || !tls.Init(store)) {
        const std::string& error = store.Error().empty() ? tls.Error() : store.Error();
        log.Note("OrvaneSrv: no TLS port: " + EscapeForLog(error) + "\n");
        state.strReason = error;
        return false;
    }
    const std::string file = EscapeForLog((folder / CCertificateStore::kCertificateFile).string());
    const auto expiry = store.Expiry();
    state.strFingerprint = store.Fingerprint();
    log.Note("OrvaneSrv: TLS certificate " + file + (store.Created() ? " (made now)" : "") +
             ", SHA-256 fingerprint " + store.Fingerprint() + ", valid until " + DateText(expiry) +
             "\n");
    if (expiry - now < kCertificateWarningTime) {
        log.Note("OrvaneSrv: warning: the TLS certificate " + file +
                 (expiry <= now ? " has expired" : " expires within 30 days") +
                 "; replace tls.crt and tls.key, or remove both for a new one\n");
    }
    return true;
}
