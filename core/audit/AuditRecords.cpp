// The audit trail's records of the program, discovery, the configuration file and the service;
// see AuditRecords.h.
#include "core/audit/AuditRecords.h"

#include "core/audit/AuditEventKinds.h"
#include "platform/text/TextConv.h"

namespace {

constexpr std::string_view kService = "service";
// The service's records about users of the site's LDAP directory.
constexpr std::string_view kDirectory = "ldap";

} // namespace

CAuditRecord StartRecord(std::string_view store, long pid) {
    return std::move(CAuditRecord("start", kService).Add("store", store).AddNumber("pid", pid));
}

CAuditRecord StopRecord(long pid) {
    return std::move(CAuditRecord("stop", kService).AddNumber("pid", pid));
}

CAuditRecord AddressConflictRecord(std::u16string_view mac, std::u16string_view bound,
                                   std::string_view announcedAt) {
    return std::move(CAuditRecord("address-conflict", "discovery")
                         .Add("mac", Utf16ToUtf8(mac))
                         .Add("ip", Utf16ToUtf8(bound))
                         .Add("announcedAt", announcedAt));
}

CAuditRecord ArrayPresenceRecord(const CArrayPresence& news) {
    CAuditRecord record(news.eKind == EArrayPresence::Left ? kArrayLeftEvent : kArrayBackEvent,
                        "discovery");
    if (news.nMore > 0) {
        return std::move(record.AddNumber("count", news.nMore));
    }
    return std::move(record.Add("mac", Utf16ToUtf8(news.mac))
                         .Add("ip", Utf16ToUtf8(news.ip))
                         .Add("system", Utf16ToUtf8(news.systemName)));
}

CAuditRecord ConfigFileRecord(std::string_view event, std::string_view source,
                              const std::filesystem::path& file, std::string_view failure) {
    return std::move(CAuditRecord(event, source)
                         .Add("file", file.string())
                         .Add("result", failure.empty() ? std::string_view("done") : failure));
}

CAuditRecord ThrottledRecord(std::string_view user, bool bAddressBlocked) {
    return std::move(CAuditRecord("throttled", kService)
                         .Add("user", user)
                         .Add("reason", bAddressBlocked ? "address blocked" : "user name slowed"));
}

CAuditRecord CredentialsRefusedRecord(std::string_view user) {
    return std::move(CAuditRecord("credentials-refused", kService).Add("user", user));
}

CAuditRecord DirectoryRefusedRecord(std::string_view user, std::string_view reason) {
    return std::move(
        CAuditRecord("credentials-refused", kDirectory).Add("user", user).Add("reason", reason));
}

CAuditRecord DirectorySignInRecord(std::string_view user, std::string_view dn,
                                   std::string_view groups) {
    return std::move(CAuditRecord(kSignInEvent, kDirectory)
                         .Add("user", user)
                         .Add("dn", dn)
                         .Add("groups", groups));
}

CAuditRecord PushAcceptedRecord(std::string_view mac, std::string_view address) {
    return std::move(CAuditRecord("push", kService)
                         .Add("mac", mac)
                         .Add("result", "accepted")
                         .Add("address", address));
}

CAuditRecord PushRefusedRecord(std::string_view mac, std::string_view reason) {
    return std::move(CAuditRecord("push", kService)
                         .Add("mac", mac)
                         .Add("result", "refused")
                         .Add("reason", reason));
}
