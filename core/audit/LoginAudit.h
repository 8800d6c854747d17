// Logins to arrays in the audit trail: who started them (the console or orvanectl), the array,
// the administrator user name and the result; never the password.
#pragma once

#include "core/audit/CAuditTrail.h"
#include "storage/CLoginOutcome.h"

#include <functional>
#include <memory>
#include <string>

// What records each login's outcome in trail, from any thread (none: records nothing).
std::function<void(const CLoginOutcome&)> LoginAuditor(std::shared_ptr<CAuditTrail> trail,
                                                       std::string source);
