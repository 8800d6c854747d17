#include "service/http/CheckBasicCredentials.h"

#include "platform/text/Base64.h"
#include "platform/text/TextConv.h"

std::string BasicUserName(std::string_view encoded) {
    const std::string decoded = Base64Decode(encoded);
    const std::size_t colon = decoded.find(':');
    return colon == std::string::npos ? std::string() : decoded.substr(0, colon);
}

int CheckBasicCredentials(std::string_view encoded, std::string& userName,
                          const CUserTable& users) {
    const std::string decoded = Base64Decode(encoded);
    const std::size_t colon = decoded.find(':');
    if (colon == std::string::npos) {
        // Without a colon there is no telling name from password: keep neither.
        userName.clear();
        return kCredentialsNoSuchUser;
    }
    userName = decoded.substr(0, colon);
    const std::u16string name = Utf8ToUtf16(userName);
    const auto it = users.find(name);
    if (it == users.end() || !it->second) {
        return kCredentialsNoSuchUser;
    }
    const CUserData& user = *it->second;
    const std::u16string password = Utf8ToUtf16(std::string_view(decoded).substr(colon + 1));
    return user.m_strName == name && user.m_strPassword == password ? kCredentialsOk
                                                                    : kCredentialsWrongPassword;
}
