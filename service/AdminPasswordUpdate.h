// "/UpdateAdminPasswd?<MAC text>": a storage server pushes its new administrator password, the
// first body line. Only a server that the operator has logged in to takes it.
#pragma once

#include "storage/CServerTable.h"

#include <string_view>

inline constexpr std::string_view kUpdateDone = "<Response><ErrCode>0</ErrCode></Response>";
inline constexpr std::string_view kUpdateNoServer =
    "<Response><ErrCode>-1</ErrCode><ErrMsg>Server IP is not found.</ErrMsg></Response>";
inline constexpr std::string_view kUpdateNotAuthorized =
    "<Response><ErrCode>-2</ErrCode><ErrMsg>Not authorized yet.</ErrMsg></Response>";

// key: the path behind "/UpdateAdminPasswd?", matched exactly against the table's keys.
// bodyLine: the line as received; trailing white space is dropped, leading white space kept.
// Answers the response text. The caller holds the directory guard exclusively.
std::string_view UpdateAdminPassword(CServerTable& servers, std::string_view key,
                                     std::string_view bodyLine);
