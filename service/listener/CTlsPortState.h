// What the TLS port of the running credential service offers, for the people who pin its
// certificate: the port and the certificate's SHA-256 fingerprint, or why nothing is served
// there. The service publishes it when it starts and stops; the About box and the control
// channel's status read it from any thread.
#pragma once

#include <cstdint>
#include <string>

struct CTlsPortState {
    enum class EState {
        Off,       // the service does not run, or runs without a TLS port
        Serving,   // nPort and strFingerprint are set
        NotServed, // strReason says why the port could not start
    };
    // Fingerprint bytes shown on one line; the rest follow on the next.
    static constexpr std::size_t kBytesPerLine = 16;

    EState eState = EState::Off;
    uint16_t nPort = 0;
    std::string strFingerprint;
    std::string strReason;

    // One line: "port 51443, SHA-256 fingerprint AB:..", "not served: <reason>" or "off".
    std::string Summary() const;
    // The fingerprint cut into lines of kBytesPerLine bytes, joined by '\n'.
    std::string FingerprintLines() const;

    // The state of the current run, as the service last published it.
    static void Publish(CTlsPortState state);
    static CTlsPortState Published();
};
