// "/UpdateAdminPasswd?<MAC text>": a storage server pushes its new administrator password, the
// first body line. Only a server that the operator has logged in to takes it, and only from the
// address it was discovered at: anyone else who learnt the MAC text from its SLP announcements
// would otherwise choose the password that "/Query" hands out.
#pragma once

#include "storage/CServerTable.h"

#include <string_view>

inline constexpr std::string_view kUpdateDone = "<Response><ErrCode>0</ErrCode></Response>";
inline constexpr std::string_view kUpdateNoServer =
    "<Response><ErrCode>-1</ErrCode><ErrMsg>Server IP is not found.</ErrMsg></Response>";
inline constexpr std::string_view kUpdateNotAuthorized =
    "<Response><ErrCode>-2</ErrCode><ErrMsg>Not authorized yet.</ErrMsg></Response>";

enum class EPasswordUpdate {
    Done,
    NoServer,
    OtherAddress, // answered as NoServer: a stranger learns nothing from the answer
    NotAuthorized,
};

// key: the path behind "/UpdateAdminPasswd?", matched exactly against the table's keys.
// peerAddress: the dotted text of the connection's peer, compared exactly with the record's
// IP address text. bodyLine: the line as received; trailing white space is dropped, leading
// white space kept. The caller holds the directory guard exclusively.
EPasswordUpdate UpdateAdminPassword(CServerTable& servers, std::string_view key,
                                    std::string_view peerAddress, std::string_view bodyLine);

// The response text for a result.
std::string_view PasswordUpdateAnswer(EPasswordUpdate result);
