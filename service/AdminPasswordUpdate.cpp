#include "service/AdminPasswordUpdate.h"

#include "platform/text/TextConv.h"

std::string_view UpdateAdminPassword(CServerTable& servers, std::string_view key,
                                     std::string_view bodyLine) {
    CServerData* record = servers.Find(Utf8ToUtf16(key));
    if (record == nullptr) {
        return kUpdateNoServer;
    }
    if (record->m_bAuthorized == 0) {
        return kUpdateNotAuthorized;
    }
    std::u16string password = Utf8ToUtf16(bodyLine);
    const std::size_t end = password.find_last_not_of(u" \t\r\n\v\f");
    password.resize(end == std::u16string::npos ? 0 : end + 1);
    record->m_strLoginPasswd = std::move(password);
    return kUpdateDone;
}
