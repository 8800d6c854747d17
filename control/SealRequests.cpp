// Seal requests and the seal's status lines.
#include "control/SealRequests.h"

#include "core/COrvaneSrvCore.h"

namespace {

constexpr int kFailed = 1;
constexpr int kBadUsage = 2;

CControlReply Answered(const CSealAnswer& answer) {
    if (answer.bDone) {
        return {0, answer.strText + "\n", {}};
    }
    return {kFailed, {}, answer.strText + "\n"};
}

std::string ModeText(ESealMode mode) {
    switch (mode) {
    case ESealMode::KeyFile:
        return "key file";
    case ESealMode::Passphrase:
        return "passphrase";
    case ESealMode::Off:
        break;
    }
    return "off";
}

std::string DroppedText(const CSealStatus& status) {
    std::string text = std::to_string(status.Dropped());
    std::string reasons;
    for (const auto& [reason, count] : status.dropped) {
        reasons += (reasons.empty() ? "" : "; ") + std::to_string(count) + " " + reason;
    }
    return reasons.empty() ? text : text + " (" + reasons + ")";
}

std::string DroppedJson(const CSealStatus& status) {
    std::string out = "{";
    for (const auto& [reason, count] : status.dropped) {
        CAuditRecord::AppendJsonString(out += out.size() > 1 ? ", " : "", reason);
        out += ": " + std::to_string(count);
    }
    return out + "}";
}

std::string Json(std::string_view text) {
    std::string out;
    CAuditRecord::AppendJsonString(out, text);
    return out;
}

} // namespace

bool IsSealRequest(const std::vector<std::string>& args) {
    return !args.empty() && (args[0] == "seal" || args[0] == "unseal");
}

CControlReply RunSealRequest(COrvaneSrvCore& core, const std::vector<std::string>& args) {
    CAuthorizationSeal& seal = core.Seal();
    if (args.size() == 2 && args[0] == "seal" && args[1] == "--off") {
        return Answered(seal.TurnOff());
    }
    if (args.size() != 3 || args[1] != "--passphrase") {
        return {kBadUsage, {}, "usage: seal [--passphrase-stdin] | seal --off | unseal\n"};
    }
    return Answered(args[0] == "seal" ? seal.SealWith(args[2]) : seal.Unseal(args[2]));
}

std::string SealStateText(const CSealStatus& status) {
    switch (status.eState) {
    case ESealState::Off:
        return "off";
    case ESealState::Waiting:
        return "sealed, waiting: " + status.strProblem;
    case ESealState::Refused:
        return "refused: " + status.strProblem;
    case ESealState::Open:
        break;
    }
    return "open, sealed with a " + ModeText(status.eMode);
}

std::vector<CSealStatusField> SealStatusFields(const CSealStatus& status) {
    std::string state = SealStateText(status);
    if (!status.strWriteError.empty()) {
        state += "; the last write failed: " + status.strWriteError;
    }
    const auto count = [](const char* label, const char* key, std::size_t n) {
        return CSealStatusField{label, std::to_string(n), key, std::to_string(n)};
    };
    return {
        {"remembering", ModeText(status.eMode), "remembering", Json(ModeText(status.eMode))},
        {"sealed file", state, "sealedFile", Json(state)},
        count("remembered", "remembered", status.nRemembered),
        count("waiting for a sighting", "rememberedWaiting", status.nWaiting),
        count("verifying", "rememberedVerifying", status.nVerifying),
        count("verified", "rememberedVerified", status.nVerified),
        {"dropped", DroppedText(status), "rememberedDropped", std::to_string(status.Dropped())},
        {"", "", "rememberedDroppedBy", DroppedJson(status)},
    };
}
