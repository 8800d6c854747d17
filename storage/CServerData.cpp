// The setters of a storage server record, which keep each value within its field and its
// rendered element in step with the fields it shows.
#include "storage/CServerData.h"

#include "storage/ServerElement.h"

#include <algorithm>
#include <cstring>

void CServerData::SetLoginResponse(std::string_view v) {
    m_szLoginResponse.assign(v.substr(0, kLoginResponseMax));
}

void CServerData::SetAuthorizedIP(std::string_view v) {
    CopyToField(m_szAuthorizedIP, sizeof m_szAuthorizedIP, v);
}

void CServerData::Deauthorize() {
    m_bAuthorized = 0;
    DropElement();
    m_strLoginUserName.clear();
    // The password's bytes do not outlive its use in freed memory.
    std::fill(m_strLoginPasswd.begin(), m_strLoginPasswd.end(), u'\0');
    std::u16string().swap(m_strLoginPasswd);
    std::string().swap(m_szLoginResponse);
    m_szAuthorizedIP[0] = '\0';
    if (m_pLoginHistory) { // nothing verified is held any more
        auto history = std::make_shared<CLoginHistory>(*m_pLoginHistory);
        history->verified.reset();
        m_pLoginHistory = std::move(history);
    }
}

void CServerData::SetLoginCredentials(std::u16string userName, std::u16string passwd) {
    m_strLoginUserName = std::move(userName);
    SetLoginPasswd(std::move(passwd));
}

void CServerData::SetLoginPasswd(std::u16string passwd) {
    std::fill(m_strLoginPasswd.begin(), m_strLoginPasswd.end(), u'\0');
    m_strLoginPasswd = std::move(passwd);
    RenderElement();
}

void CServerData::RenderElement() {
    DropElement();
    if (m_bAuthorized == 0) {
        return;
    }
    // Rendered in room for the usual element and then kept at its exact size, with the buffer
    // it was rendered in wiped: shrinking the buffer in place would free a copy of the password
    // as it is.
    constexpr std::size_t kUsualElementBytes = 1024;
    std::string rendered;
    rendered.reserve(kUsualElementBytes);
    AppendServerElement(rendered, *this);
    m_strElement = std::string(rendered);
    ::explicit_bzero(rendered.data(), rendered.size());
}

CLoginHistory CServerData::LoginHistory() const {
    return m_pLoginHistory ? *m_pLoginHistory : CLoginHistory();
}

void CServerData::NoteLogin(const CLoginMark& mark, bool bVerified) {
    auto history = std::make_shared<CLoginHistory>(LoginHistory());
    history->last = mark;
    if (bVerified) {
        history->verified = mark;
    }
    m_pLoginHistory = std::move(history);
}

void CServerData::DropElement() {
    std::fill(m_strElement.begin(), m_strElement.end(), '\0');
    std::string().swap(m_strElement);
}

EAddressState CServerData::AddressState() const {
    if (m_listClaims.empty()) {
        return EAddressState::Bound;
    }
    return m_nPassesBoundUnseen >= kPassesToForget ? EAddressState::Moved : EAddressState::Conflict;
}

bool CServerData::NoteClaim(std::string_view address, std::chrono::system_clock::time_point now) {
    m_bSeenElsewhere = true;
    for (CAddressClaim& claim : m_listClaims) {
        if (claim.strAddress == address) {
            claim.lastSeen = now;
            claim.bSeenThisPass = true;
            return false;
        }
    }
    if (m_listClaims.size() == kMaxClaims) {
        return false;
    }
    m_listClaims.push_back({std::string(address), now, now, 0, true});
    return true;
}

std::string CServerData::LatestClaim() const {
    const auto latest = std::max_element(
        m_listClaims.begin(), m_listClaims.end(),
        [](const CAddressClaim& a, const CAddressClaim& b) { return a.lastSeen < b.lastSeen; });
    return latest == m_listClaims.end() ? std::string() : latest->strAddress;
}

void CServerData::AgeClaims() {
    m_nPassesBoundUnseen = m_bSeen != 0 ? 0 : m_nPassesBoundUnseen + 1;
    for (CAddressClaim& claim : m_listClaims) {
        claim.nPassesUnseen = claim.bSeenThisPass ? 0 : claim.nPassesUnseen + 1;
        claim.bSeenThisPass = false;
    }
    std::erase_if(m_listClaims, [](const CAddressClaim& claim) {
        return claim.nPassesUnseen >= kPassesToForget;
    });
    m_bSeenElsewhere = false;
}

void CServerData::Rebind(std::string_view address) {
    SetIPAddr(address);
    std::erase_if(m_listClaims,
                  [address](const CAddressClaim& claim) { return claim.strAddress == address; });
    m_nPassesBoundUnseen = 0;
}
