// Readies the TLS port's certificate at the service's start and says in the log what clients
// will see: the certificate's SHA-256 fingerprint (for pinning), its end of validity, and a
// warning when that end is near.
#pragma once

#include "platform/tls/CTlsServerContext.h"
#include "service/CServiceLog.h"
#include "service/listener/CTlsPortState.h"

#include <chrono>
#include <filesystem>

// A certificate that ends within this time is logged as a warning at every start.
inline constexpr std::chrono::hours kCertificateWarningTime{24 * 30};

// Loads (or makes) the pair in folder and sets tls up with it, with its fingerprint in state;
// false, logged and with the reason in state, when the TLS port cannot serve.
bool LoadServiceCertificate(const std::filesystem::path& folder, CTlsServerContext& tls,
                            CServiceLog& log, std::chrono::system_clock::time_point now,
                            CTlsPortState& state);
