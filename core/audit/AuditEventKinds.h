// Every kind of event that the audit trail holds, in one list: the records' builders name their
// kinds from it, and whatever filters the trail by kind (orvanectl audit --event) refuses a kind
// that is not in it, since a misspelt one would match nothing and look like a quiet trail.
#pragma once

#include <algorithm>
#include <array>
#include <string_view>

// An array that left the System list, and one that came back to it.
inline constexpr std::string_view kArrayLeftEvent = "array-left";
inline constexpr std::string_view kArrayBackEvent = "array-back";

// A user of the site's directory signed in (not counting sign-ins the cache answered).
inline constexpr std::string_view kSignInEvent = "sign-in";

inline constexpr std::array<std::string_view, 23> kAuditEventKinds = {
    "start",
    "stop",
    "login",
    "user-add",
    "user-change",
    "user-delete",
    "group-add",
    "group-change",
    "group-delete",
    "group-access",
    "export",
    "import",
    "push",
    "query",
    "throttled",
    "credentials-refused",
    "refusals-summary",
    "trail-full",
    "trail-resumed",
    "address-conflict",
    kArrayLeftEvent,
    kArrayBackEvent,
    kSignInEvent,
};

constexpr bool IsAuditEventKind(std::string_view kind) {
    return std::find(kAuditEventKinds.begin(), kAuditEventKinds.end(), kind) !=
           kAuditEventKinds.end();
}
