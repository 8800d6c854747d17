// One storage server as discovery found it: its identity as announced over SLP, whether it is
// present, and the administrator credentials that the operator verified by logging in to it.
// The char fields hold zero-terminated 8-bit text exactly as the announcement carried it.
// The body of the last successful login is kept off the record's fixed part: most servers never
// have one, and a table of thousands of servers must not carry 80 KB for each.
// A record also keeps the XML element that lists it for a user, so that a list of thousands of
// servers is assembled rather than rendered again for each request.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CServerData {
public:
    // The login response buffer's size; a stored body keeps at most one byte less.
    static constexpr std::size_t kLoginResponseSize = 81920;
    static constexpr std::size_t kLoginResponseMax = kLoginResponseSize - 1;
    static constexpr std::size_t kVendorChars = 32;

    CServerData() = default;

    int32_t m_bAuthorized = 0;
    int32_t m_bSeen = 1;
    int32_t m_bOnline = 1;
    std::u16string m_strLoginUserName;
    std::u16string m_strLoginPasswd;
    char m_szIPAddr[20] = {};
    char m_szSystemName[64] = {};
    char m_szVendor[65] = {};
    char m_szModel[32] = {};
    char m_szProduct[32] = {};
    char m_szVersion[16] = {};
    char m_szMAC[20] = {};
    char m_szType[16] = {};
    // The address that the successful login went to, empty while not authorized. The record is
    // authorized only there: a sighting at another address takes the authorization away.
    char m_szAuthorizedIP[20] = {};
    // Bytes as the server sent them (not text); empty before the first successful login.
    std::string m_szLoginResponse;

    // Setters that cut a value to what its field holds (the vendor to its first 32 bytes), never
    // inside a UTF-8 sequence. The login response is cut to its first kLoginResponseMax bytes.
    void SetIPAddr(std::string_view v);
    void SetSystemName(std::string_view v);
    void SetVendor(std::string_view v);
    void SetModel(std::string_view v);
    void SetProduct(std::string_view v);
    void SetVersion(std::string_view v);
    void SetMAC(std::string_view v);
    void SetType(std::string_view v);
    void SetLoginResponse(std::string_view v);
    void SetAuthorizedIP(std::string_view v);

    // Drops the authorization with everything it held: the credentials, the login's answer and
    // the address it was given at.
    void Deauthorize();

    // The credentials of a successful login, and a pushed password; either renders the element.
    void SetLoginCredentials(std::u16string userName, std::u16string passwd);
    void SetLoginPasswd(std::u16string passwd);

    // The element that lists this record for a user, as last rendered from the fields it shows.
    // Every setter of such a field drops it, and whoever changes the record renders it again
    // before giving up the tables' exclusive guard; empty means "render it from the fields".
    const std::string& Element() const { return m_strElement; }
    // Renders the element of an authorized record; drops it for any other.
    void RenderElement();

private:
    // The element holds the password: its bytes do not outlive it in freed memory.
    void DropElement();

    std::string m_strElement;
};
