#include "service/AdminPasswordUpdate.h"

#include "platform/text/TextConv.h"

EPasswordUpdate UpdateAdminPassword(CServerTable& servers, std::string_view key,
                                    std::string_view peerAddress, std::string_view bodyLine) {
    CServerData* record = servers.Find(Utf8ToUtf16(key));
    if (record == nullptr) {
        return EPasswordUpdate::NoServer;
    }
    if (peerAddress != std::string_view(record->m_szIPAddr)) {
        return EPasswordUpdate::OtherAddress;
    }
    if (record->m_bAuthorized == 0) {
        return EPasswordUpdate::NotAuthorized;
    }
    std::u16string password = Utf8ToUtf16(bodyLine);
    const std::size_t end = password.find_last_not_of(u" \t\r\n\v\f");
    password.resize(end == std::u16string::npos ? 0 : end + 1);
    record->m_strLoginPasswd = std::move(password);
    return EPasswordUpdate::Done;
}

std::string_view PasswordUpdateAnswer(EPasswordUpdate result) {
    switch (result) {
    case EPasswordUpdate::Done:
        return kUpdateDone;
    case EPasswordUpdate::NotAuthorized:
        return kUpdateNotAuthorized;
    case EPasswordUpdate::NoServer:
    case EPasswordUpdate::OtherAddress:
        break;
    }
    return kUpdateNoServer;
}
