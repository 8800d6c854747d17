// One server of a Login button press: its row's MAC and IP address texts as they stood when the
// button was pressed.
#pragma once

#include <string>

struct CLoginTarget {
    std::u16string strMAC;
    std::u16string strIP;
};
