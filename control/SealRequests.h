// The control channel's side of remembered authorizations: "seal", "seal --off" and "unseal"
// as orvanectl sends them, and the lines and JSON fields that "status" shows of the seal.
#pragma once

#include "control/ControlProtocol.h"
#include "core/seal/CAuthorizationSeal.h"

#include <string>
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

// Whether args is a seal request ("seal ...", "unseal ...").
bool IsSealRequest(const std::vector<std::string>& args);
// Runs it on the window thread; the passphrase travels as "--passphrase TEXT".
CControlReply RunSealRequest(COrvaneSrvCore& core, const std::vector<std::string>& args);
// What "status" shows of the seal.
std::vector<CSealStatusField> SealStatusFields(const CSealStatus& status);
// The state in a few words ("open, sealed with a key file", "sealed, waiting for unseal", ...).
std::string SealStateText(const CSealStatus& status);
