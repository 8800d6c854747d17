// What the lab (tools/lab/orvane-lab.sh) makes of its array i, as the tests expect to see it: in
// the System tab's rows and in the credential service's "/Query" entries. A test whose arrays
// take other options changes the fields it changed.
#pragma once

#include <string>
#include <string_view>

struct CLabArray {
    std::string ip;
    std::string hostname;
    std::string product;
    std::string version;
    std::string mac;
    std::string type = "SAN";

    // The lab's generated identity of array i.
    static CLabArray Generated(int i);
    // The System tab's row, "ip|system name|product|version|mac|auth".
    std::string Row(std::string_view auth) const;
    // Its "/Query" entry, logged in to as "admin" with password.
    std::string Entry(std::string_view password) const;
};
