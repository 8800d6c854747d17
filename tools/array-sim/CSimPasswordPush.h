// Tells a management server that an array's administrator password has changed, the way an
// array does: POST /UpdateAdminPasswd?<mac> with the new password as the first body line.
#pragma once

#include "tools/array-sim/CArrayConfig.h"

#include <ostream>
#include <string>

class CSimPasswordPush {
public:
    // Prints the server's answer to out; 0 when one came back, else 1 with the reason on err.
    static int Push(const CArrayConfig& array, const std::string& manager,
                    const std::string& password, std::ostream& out, std::ostream& err);
    static std::string Request(const std::string& mac, const std::string& password);
};
