// The login records of the audit trail; see LoginAudit.h.
#include "core/audit/LoginAudit.h"

#include "platform/text/TextConv.h"

namespace {

// How the login went, in the trail's words.
std::string ResultText(const CLoginOutcome& outcome) {
    switch (outcome.eResult) {
    case ELoginResult::Succeeded:
        return "succeeded";
    case ELoginResult::Superseded:
        return "the array moved while the login ran";
    case ELoginResult::Refused:
        return "authentication failed";
    case ELoginResult::NotSupported:
        return "not supported";
    case ELoginResult::HttpStatus:
        return "http status " + std::to_string(outcome.nCode);
    case ELoginResult::TransportError:
        break;
    }
    return "connection error " + std::to_string(outcome.nCode);
}

} // namespace

std::function<void(const CLoginOutcome&)> LoginAuditor(std::shared_ptr<CAuditTrail> trail,
                                                       std::string source) {
    if (!trail) {
        return [](const CLoginOutcome&) {};
    }
    return [trail = std::move(trail), source = std::move(source)](const CLoginOutcome& outcome) {
        CAuditRecord record("login", source);
        record.Add("mac", Utf16ToUtf8(outcome.strMAC))
            .Add("ip", Utf16ToUtf8(outcome.strIP))
            .Add("user", Utf16ToUtf8(outcome.strUserName))
            .Add("result", ResultText(outcome))
            .Add("array", outcome.bKnown ? "known" : "new");
        if (outcome.bRebind) {
            record.Add("movedTo", Utf16ToUtf8(outcome.strIP));
        }
        trail->Write(record);
    };
}
