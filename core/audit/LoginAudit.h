// Logins to arrays in the audit trail: who started them (the console or orvanectl), the array,
// the administrator user name and the result; never the password.
#pragma once

#include "core/audit/CAuditTrail.h"
#include "storage/CLoginClient.h"

#include <memory>
#include <string>

// The options with a result hook that records each login in trail (none: as they are).
CLoginOptions WithLoginAudit(CLoginOptions options, std::shared_ptr<CAuditTrail> trail,
                             std::string source);
