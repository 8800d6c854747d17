// Seal requests and the seal's status lines.
#include "control/SealRequests.h"

#include "control/TextTable.h"
#include "core/COrvaneSrvCore.h"

#include <array>
#include <ctime>

namespace {

CControlReply Answered(const CSealAnswer& answer) {
    return answer.bDone ? CControlReply{0, answer.strText + "\n", {}}
                        : CControlReply{kFailedStatus, {}, answer.strText + "\n"};
}

std::string ModeText(ESealMode mode) {
    constexpr std::array<std::string_view, 3> kNames = {"off", "key file", "passphrase"};
    return std::string(kNames.at(static_cast<std::size_t>(mode)));
}

std::string DroppedText(const CSealStatus& status) {
    std::string text = std::to_string(status.Dropped());
    const std::string reasons = Joined(status.dropped, "; ", [](const auto& dropped) {
        return std::to_string(dropped.second) + " " + dropped.first;
    });
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

} // namespace

std::string StatusJson(std::string_view text) {
    std::string out;
    CAuditRecord::AppendJsonString(out, text);
    return out;
}

std::string StatusTime(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    ::gmtime_r(&t, &utc);
    constexpr std::size_t kTimeSize = 32;
    char text[kTimeSize];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return text;
}

CControlReply RunSealRequest(COrvaneSrvCore& core, const std::vector<std::string>& args) {
    CAuthorizationSeal& seal = core.Seal();
    if (args.size() == 2 && args[0] == "seal" && args[1] == "--off") {
        return Answered(seal.TurnOff());
    }
    if (args.size() != 3 || args[1] != "--passphrase") {
        return {kBadUsageStatus, {}, "usage: seal [--passphrase-stdin] | seal --off | unseal\n"};
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
        {"remembering", ModeText(status.eMode), "remembering", StatusJson(ModeText(status.eMode))},
        {"sealed file", state, "sealedFile", StatusJson(state)},
        count("remembered", "remembered", status.nRemembered),
        count("waiting for a sighting", "rememberedWaiting", status.nWaiting),
        count("verifying", "rememberedVerifying", status.nVerifying),
        count("verified", "rememberedVerified", status.nVerified),
        {"dropped", DroppedText(status), "rememberedDropped", std::to_string(status.Dropped())},
        {"", "", "rememberedDroppedBy", DroppedJson(status)},
    };
}
