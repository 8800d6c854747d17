#include "service/answers/AdminPasswordUpdate.h"

#include "platform/text/TextConv.h"
#include "platform/text/TextEscape.h"

EPasswordUpdate UpdateAdminPassword(CServerTable& servers, std::string_view key,
                                    std::string_view peerAddress, std::string_view bodyLine) {
    CServerData* record = servers.Find(Utf8ToUtf16(key));
    if (record == nullptr) {
        return EPasswordUpdate::NoServer;
    }
    if (record->m_bAuthorized == 0) {
        return EPasswordUpdate::NotAuthorized;
    }
    if (peerAddress != std::string_view(record->m_szAuthorizedIP)) {
        return EPasswordUpdate::OtherAddress;
    }
    std::u16string password = Utf8ToUtf16(bodyLine);
    const std::size_t end = password.find_last_not_of(u" \t\r\n\v\f");
    password.resize(end == std::u16string::npos ? 0 : end + 1);
    record->SetLoginPasswd(std::move(password));
    return EPasswordUpdate::Done;
}

std::string_view PasswordUpdateAnswer(EPasswordUpdate result) {
    return result == EPasswordUpdate::Done ? kUpdateDone : kUpdateNoServer;
}

std::string RefusedUpdateReason(EPasswordUpdate result, std::string_view authorizedAt) {
    if (result == EPasswordUpdate::OtherAddress) {
        return "the server was logged in to at " + std::string(authorizedAt);
    }
    if (result == EPasswordUpdate::NotAuthorized) {
        return "the server is not logged in to";
    }
    return "no server has that MAC address";
}

std::string RefusedUpdateLogLine(std::string_view key, std::string_view from,
                                 EPasswordUpdate result, std::string_view authorizedAt) {
    const std::string reason = RefusedUpdateReason(result, authorizedAt);
    return "OrvaneSrv: password update for " + EscapeForLog(key) + " refused: it came from " +
           std::string(from) + ", " + reason + "\n";
}
