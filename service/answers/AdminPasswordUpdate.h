// "/UpdateAdminPasswd?<MAC text>": a storage server pushes its new administrator password, the
// first body line. Only a server that the operator has logged in to takes it, and only from the
// address that login went to: anyone else who learnt the MAC text from its SLP announcements
// would otherwise choose the password that "/Query" hands out. Every refusal gets the same answer
// as an unknown server, so that a stranger learns nothing from it.
#pragma once

#include "storage/CServerTable.h"

#include <string>
#include <string_view>

inline constexpr std::string_view kUpdateDone = "<Response><ErrCode>0</ErrCode></Response>";
inline constexpr std::string_view kUpdateNoServer =
    "<Response><ErrCode>-1</ErrCode><ErrMsg>Server IP is not found.</ErrMsg></Response>";

// Why an update was refused is for the log only: each refusal is answered as NoServer.
enum class EPasswordUpdate {
    Done,
    NoServer,
    NotAuthorized,
    OtherAddress, // not the address that the server's login went to
};

// key: the path behind "/UpdateAdminPasswd?", matched exactly against the table's keys.
// peerAddress: the dotted text of the connection's peer, compared exactly with the address the
// record was authorized at. bodyLine: the line as received; trailing white space is dropped,
// leading white space kept. The caller holds the directory guard exclusively.
EPasswordUpdate UpdateAdminPassword(CServerTable& servers, std::string_view key,
                                    std::string_view peerAddress, std::string_view bodyLine);

// The response text for a result.
std::string_view PasswordUpdateAnswer(EPasswordUpdate result);

// Why an update was refused (result other than Done), in words; authorizedAt as below.
std::string RefusedUpdateReason(EPasswordUpdate result, std::string_view authorizedAt);

// The log line of a refused update (result other than Done), saying why; authorizedAt is the
// address the server's login went to, for OtherAddress.
std::string RefusedUpdateLogLine(std::string_view key, std::string_view from,
                                 EPasswordUpdate result, std::string_view authorizedAt);
