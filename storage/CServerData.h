// One storage server as discovery found it: its identity as announced over SLP, whether it is
// present, and the administrator credentials that the operator verified by logging in to it.
// The char fields hold zero-terminated 8-bit text exactly as the announcement carried it.
// The body of the last successful login is kept off the record's fixed part: most servers never
// have one, and a table of thousands of servers must not carry 80 KB for each.
// A record also keeps the XML element that lists it for a user, so that a list of thousands of
// servers is assembled rather than rendered again for each request.
#pragma once

#include "platform/text/TextConv.h"
#include "storage/CAddressClaim.h"
#include "storage/CLoginOutcome.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where a record stands with the addresses that announce its MAC address.
enum class EAddressState {
    Bound,    // only its own address announces it
    Conflict, // another address announces it too
    Moved,    // its own address has stopped announcing it and another one does ("moved?")
};

// How one login to the array ended, and when.
struct CLoginMark {
    ELoginResult eResult = ELoginResult::Succeeded;
    long nCode = 0;
    std::chrono::milliseconds requestTimeout{0};
    std::chrono::system_clock::time_point at;
    bool bRemembered = false; // it verified an authorization remembered from an earlier run
};

// What the operator is told of an array's Auth cell: why it says "No", since when "Yes" holds.
// Kept in memory only: no store or file holds it, and a restart begins without it.
struct CLoginHistory {
    std::optional<CLoginMark> last;     // the last login that ended, whatever its outcome
    std::optional<CLoginMark> verified; // the last one that stored the credentials it sent
};

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
    // The address that the successful login went to, empty while not authorized. It equals
    // m_szIPAddr, the bound address: only a login that names another address moves the record.
    char m_szAuthorizedIP[20] = {};
    // An operator has logged in to it successfully at its bound address: a fleet-wide login may
    // send it credentials. Never cleared by what the network announces.
    bool m_bKnown = false;
    // Other addresses announcing this MAC; the passes in a row that ended without a sighting at
    // the bound address; whether this pass saw the MAC at another address.
    std::vector<CAddressClaim> m_listClaims;
    int32_t m_nPassesBoundUnseen = 0;
    bool m_bSeenElsewhere = false;
    // When discovery last saw it at its own address: for the operator's eyes only, never stored,
    // so that a restart shows what the network says now.
    std::chrono::system_clock::time_point m_lastSeen{};
    // Bytes as the server sent them (not text); empty before the first successful login.
    std::string m_szLoginResponse;

    // Setters that cut a value to what its field holds (the vendor to its first 32 bytes), never
    // inside a UTF-8 sequence. The login response is cut to its first kLoginResponseMax bytes.
    void SetIPAddr(std::string_view v) { SetShown(m_szIPAddr, v); }
    void SetSystemName(std::string_view v) { SetShown(m_szSystemName, v); }
    void SetVendor(std::string_view v) { CopyToField(m_szVendor, kVendorChars + 1, v); }
    void SetModel(std::string_view v) { CopyToField(m_szModel, sizeof m_szModel, v); }
    void SetProduct(std::string_view v) { SetShown(m_szProduct, v); }
    void SetVersion(std::string_view v) { CopyToField(m_szVersion, sizeof m_szVersion, v); }
    void SetMAC(std::string_view v) { SetShown(m_szMAC, v); }
    void SetType(std::string_view v) { SetShown(m_szType, v); }
    void SetLoginResponse(std::string_view v);
    void SetAuthorizedIP(std::string_view v);

    // Drops the authorization with everything it held: the credentials, the login's answer and
    // the address it was given at.
    void Deauthorize();

    // Passes that a claim, or the bound address, stays unseen before it counts as gone.
    static constexpr int kPassesToForget = 3;
    // At most this many other addresses are remembered per record; further ones are ignored.
    static constexpr std::size_t kMaxClaims = 8;
    EAddressState AddressState() const;
    // Records a sighting of this MAC at address, which is not the bound one; answers whether the
    // address is new to the record (false too when the list is full and it is left out).
    bool NoteClaim(std::string_view address, std::chrono::system_clock::time_point now);
    // The most recently seen other address, empty when none.
    std::string LatestClaim() const;
    // The end of a pass: claims unseen for kPassesToForget passes are dropped.
    void AgeClaims();
    // A login that named another address succeeded there: the record now lives at it.
    void Rebind(std::string_view address);

    // The credentials of a successful login, and a pushed password; either renders the element.
    void SetLoginCredentials(std::u16string userName, std::u16string passwd);
    void SetLoginPasswd(std::u16string passwd);

    // The element that lists this record for a user, as last rendered from the fields it shows.
    // Every setter of such a field drops it, and whoever changes the record renders it again
    // before giving up the tables' exclusive guard; empty means "render it from the fields".
    const std::string& Element() const { return m_strElement; }
    // Renders the element of an authorized record; drops it for any other.
    void RenderElement();

    // How the logins to it ended; empty before the first.
    CLoginHistory LoginHistory() const;
    // A login ended as mark says; bVerified: it stored the credentials it sent.
    void NoteLogin(const CLoginMark& mark, bool bVerified);

private:
    // The element holds the password: its bytes do not outlive it in freed memory.
    void DropElement();
    // A field that the element shows.
    template <std::size_t N>
    void SetShown(char (&field)[N], std::string_view v) {
        DropElement();
        CopyToField(field, N, v);
    }

    std::string m_strElement;
    // Off the record's fixed part, like the login's body: most records never have one. Replaced,
    // never changed in place, so that a copy of the record keeps its own.
    std::shared_ptr<const CLoginHistory> m_pLoginHistory;
};
