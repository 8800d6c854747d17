// The control channel's side of remembered authorizations: "seal", "seal --off" and "unseal"
// as orvanectl sends them, and the lines and JSON fields that "status" shows of the seal.
#pragma once

#include "control/ControlProtocol.h"
#include "core/seal/CAuthorizationSeal.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

class COrvaneSrvCore;

// One status field: its label and value for people (no label: JSON only), its JSON key and
// value (a JSON text).
struct CSealStatusField {
    std::string label;
    std::string value;
    std::string key;
    std::string json;
};

// The pieces of every status field: text as a JSON string (as the audit trail writes one), and a
// time as "2026-12-09 21:00:00 UTC".
std::string StatusJson(std::string_view text);
std::string StatusTime(std::chrono::system_clock::time_point when);

// Runs "seal ..." or "unseal ..." on the window thread; the passphrase travels as
// "--passphrase TEXT".
CControlReply RunSealRequest(COrvaneSrvCore& core, const std::vector<std::string>& args);
// What "status" shows of the seal.
std::vector<CSealStatusField> SealStatusFields(const CSealStatus& status);
// The state in a few words ("open, sealed with a key file", "sealed, waiting for unseal", ...).
std::string SealStateText(const CSealStatus& status);
