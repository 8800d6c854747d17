// The login records of the audit trail; see LoginAudit.h.
#include "console/LoginAudit.h"

#include "platform/text/TextConv.h"

CLoginOptions WithLoginAudit(CLoginOptions options, std::shared_ptr<CAuditTrail> trail,
                             std::string source) {
    if (!trail) {
        return options;
    }
    options.onResult = [trail = std::move(trail), source = std::move(source)](
                           std::u16string_view mac, std::u16string_view ip,
                           std::u16string_view user, std::string_view result) {
        trail->Write(CAuditRecord("login", source)
                         .Add("mac", Utf16ToUtf8(mac))
                         .Add("ip", Utf16ToUtf8(ip))
                         .Add("user", Utf16ToUtf8(user))
                         .Add("result", result));
    };
    return options;
}
